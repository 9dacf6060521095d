// BER element trees, the memory-string stream, the reader and writer of
// identifiers, lengths and contents, and the content conversions of the
// primitive types. This layer knows no ASN.1 types and reports only through
// the numeric pe_errno and ps_errno fields.
#ifndef TUL_BER_H
#define TUL_BER_H

#include <cstdint>

#include "tul.h"

/* ------------------------------------------------------------------------
 * Elements and their context
 * ---------------------------------------------------------------------- */

// One BER TLV. Elements live in the chunks of a PECtx and are never released
// one by one; pe_free only releases contents an element owns.
struct PElement {
  int pe_errno;      // last content-conversion error on this element
  uint8_t pe_class;  // tul::ber::kUniversal ... kPrivate
  uint8_t pe_form;   // tul::ber::kPrimitive, kConstructed, kInlineConstructed
  uint16_t pe_id;    // tag number
  int pe_len;        // contents octets; -1 indefinite; form 2: whole encoding
  int pe_ilen;
  union {
    unsigned char* un_pe_prim;  // forms 0 and 2
    PElement* un_pe_cons;       // form 1: first child
  } pe_un1;
  union {
    int numberbits;    // BIT STRING: significant bits
    int32_t prim_data; // contents storage of short BOOLEAN and INTEGER elements
  } pe_un2;
  PElement* pe_next;  // next sibling
  int pe_inline;      // 1: contents not owned by the element
};

namespace tul::ber {
inline constexpr int kChunkElements = 100;
}

struct PEChunk {
  PEChunk* next;
  int offset;  // elements handed out from `array`
  PElement array[tul::ber::kChunkElements];
};

// Owns every element of one encode or decode run. The first chunk lives
// inside the context so that a context on the stack serves small runs
// without heap traffic; the context must therefore not be copied or moved
// while in use (`current` may point into it).
struct PECtx {
  PEChunk* current;
  PEChunk stack_memory;
};

void init_PECtx(PECtx* ctx);
// Next element of the context, zero-filled with class, form and tag set;
// null when a new chunk cannot be allocated (the context stays usable).
PElement* new_PE(PECtx* ctx, uint8_t tagclass, uint8_t form, uint16_t id);
// Releases the heap chunks; every element of the context becomes invalid.
void free_PECtx(PECtx* ctx);
// Releases the contents owned by `pe` and its descendants (not the elements).
// Freed contents pointers are cleared, so a second call is harmless.
void pe_free(PElement* pe);
// Appends `added` to the children of `pe`, behind `last` when given. 0.
int seq_addon(PElement* pe, PElement* last, PElement* added);

// The end-of-contents element (all fields zero).
extern const PElement pe_eoc;

/* ------------------------------------------------------------------------
 * Presentation streams
 * ---------------------------------------------------------------------- */

struct PStream;
using PsPrimeProc = int (*)(PStream* ps, int waiting);
// Read and write procedures: octets moved, 0 at end of data / when nothing
// more fits, -1 on error (with ps_errno set).
using PsIoProc = int (*)(PStream* ps, unsigned char* data, int n, int in_line);
using PsFlushProc = int (*)(PStream* ps);
using PsCloseProc = int (*)(PStream* ps);
using PsOpenProc = int (*)(PStream* ps);

struct PStream {
  int ps_errno;
  char* ps_base;
  int ps_cnt;  // octets left to read, or free space left to write
  char* ps_ptr;
  int ps_bufsiz;
  int ps_inline;   // 1: the caller's buffer, read in place, never grown or freed
  int ps_byteno;   // octets moved so far
  PsPrimeProc ps_primeP;
  PsIoProc ps_readP;
  PsIoProc ps_writeP;
  PsFlushProc ps_flushP;
  PsCloseProc ps_closeP;
  PECtx* pe_ctx;  // receives the elements created while reading
};

PStream* ps_alloc(PsOpenProc open);
void ps_free(PStream* ps);
int ps_prime(PStream* ps, int waiting);
int ps_flush(PStream* ps);
// Moves exactly `n` octets through `procedure`; 0 or -1.
int ps_io(PStream* ps, PsIoProc procedure, unsigned char* data, int n, int in_line);

int str_open(PStream* ps);
int str_setup(PStream* ps, char* cp, int cc, int in_line);
int str_read(PStream* ps, unsigned char* data, int n, int in_line);
int str_write(PStream* ps, unsigned char* data, int n, int in_line);
int str_close(PStream* ps);

// Reads one element (with its contents when `all`); null on failure or at a
// clean end of data (ps_errno 0).
PElement* ps2pe_aux(PStream* ps, int top, int all);
// Writes `pe` (sizing constructed elements first when `eval` > 0); 0 or -1.
int pe2ps_aux(PStream* ps, PElement* pe, int eval);
// Octets the encoding of `pe` occupies; fixes every constructed element's
// length. -1 for a tree that cannot be written (too deep, too large).
int ps_get_abs(PElement* pe);

// Writes the annotated trace of `pe` into `ps` and flushes it; 0 or -1.
int pe2pl(PStream* ps, PElement* pe);
int pe2pl_aux(PStream* ps, PElement* pe, int level);

/* ------------------------------------------------------------------------
 * Primitive content conversions
 * ---------------------------------------------------------------------- */

PElement* bool2prim(PECtx* ctx, int b);
int prim2flag(PElement* pe);
PElement* num2prim(PECtx* ctx, int32_t i, uint8_t tagclass, uint16_t id);
// The value; failure is told by pe_errno, since -1 is a value too.
int32_t prim2num(PElement* pe);
// The same for up to `max_octets` (at most 8) contents octets; wider
// contents set pe_errno. Contents longer than four octets are owned by the
// element that num2prim64 returns.
PElement* num2prim64(PECtx* ctx, int64_t i, uint8_t tagclass, uint16_t id);
int64_t prim2num64(PElement* pe, int max_octets);
// Subidentifier octets of an arc array, in a new buffer (caller frees). 0 or -1.
int encodeOID(int nelem, const uint32_t elements[], int* len_octets, unsigned char** octets);
// Arcs of an OBJECT IDENTIFIER element into `oid_elements` (room for
// tul::ber::kMaxOidArcs). 1 or 0.
int prim2oid(uint32_t oid_elements[], int* oid_length, PElement* pe);
PElement* double2prim(PECtx* ctx, double d);
double prim2real(PElement* pe);
// OCTET STRING element over the caller's octets (not copied).
PElement* oct2prim(PECtx* ctx, const char* s, int len);
// Contents (segments joined) in a new NUL-terminated buffer (caller frees).
char* prim2str(PElement* pe, int* len);
PElement* strb2bitstr(PECtx* ctx, const char* cp, int len);
PElement* bit2prim(PElement* pe);
PElement* prim2bit(PElement* pe);
// Packed bits of a BIT STRING element in a new zero-filled buffer of
// numberbits / 8 + 2 octets (caller frees); `k` receives the bit count.
char* bitstr2strb(PECtx* ctx, PElement* pe, int* k);
int bit_on(PECtx* ctx, PElement* pe, int i);
int bit_off(PECtx* ctx, PElement* pe, int i);
int bit_test(PECtx* ctx, PElement* pe, int i);

namespace tul::ber {

enum : uint8_t { kUniversal = 0, kApplication = 1, kContext = 2, kPrivate = 3 };
enum : uint8_t { kPrimitive = 0, kConstructed = 1, kInlineConstructed = 2 };
enum : uint16_t {
  kTagEndOfContents = 0,
  kTagBoolean = 1,
  kTagInteger = 2,
  kTagBitString = 3,
  kTagOctetString = 4,
  kTagNull = 5,
  kTagObjectIdentifier = 6,
  kTagReal = 9,
  kTagEnumerated = 10,
  kTagSequence = 16,
  kTagSet = 17,
};

// pe_errno codes.
enum : int {
  kPeOverflow = 1,
  kPeNoMemory = 2,
  kPeBitNotPresent = 3,
  kPeNotPrimitive = 7,  // or no contents
  kPeForeignSegment = 9,
  kPeBadUnusedBits = 11,
  kPeUnsupportedReal = 12,
};

// ps_errno codes.
enum : int {
  kPsTagOverflow = 1,
  kPsLengthOverflow = 2,  // more than 4 length octets, or a length above INT32_MAX
  kPsNoMemory = 3,
  kPsEndOfData = 4,
  kPsEndInTag = 5,
  kPsEndInLength = 6,
  kPsLengthMismatch = 7,
  kPsIndefinitePrimitive = 9,
  kPsTooDeep = 10,  // constructed elements nested beyond kMaxElementDepth
};

// Octets that the element at the start of `octets` occupies, read as
// ps2pe_aux reads it; -1 with the reader's ps_errno in `*error` (0 when no
// octets were given).
long element_length(const unsigned char* octets, size_t size, int* error);

// Nesting bound of the reader, the writer and the trace: far beyond any real
// encoding, low enough that hostile input cannot exhaust the stack.
inline constexpr int kMaxElementDepth = 256;
inline constexpr int kMaxOidArcs = 128;

// Writes the encoding of `pe` into `out`, which has room for the octets
// that ps_get_abs answered for it just before (so every length is definite
// and the nesting bounded). The end of the octets written, or null for an
// element that claims contents it does not hold.
unsigned char* write_sized(const PElement* pe, unsigned char* out);

// Releases the contents still owned by any element handed out by `ctx`,
// including elements no longer reachable from a root (left behind by an
// encoder that failed half-way).
void free_contents(PECtx* ctx);

// Owns an element context on the stack for one run: on every exit releases
// the contents of all its elements and then its chunks.
class ElementContextGuard {
 public:
  ElementContextGuard() { init_PECtx(&ctx_); }
  ~ElementContextGuard() {
    free_contents(&ctx_);
    free_PECtx(&ctx_);
  }
  ElementContextGuard(const ElementContextGuard&) = delete;
  ElementContextGuard& operator=(const ElementContextGuard&) = delete;

  PECtx* get() { return &ctx_; }

 private:
  PECtx ctx_;
};

// Owns a stream from ps_alloc; ps_free on exit.
class StreamGuard {
 public:
  explicit StreamGuard(PStream* ps) : ps_(ps) {}
  ~StreamGuard() { ps_free(ps_); }
  StreamGuard(const StreamGuard&) = delete;
  StreamGuard& operator=(const StreamGuard&) = delete;

  PStream* get() const { return ps_; }
  explicit operator bool() const { return ps_ != nullptr; }

 private:
  PStream* ps_;
};

}  // namespace tul::ber

#endif
