// BER elements, streams, reader, writer, content conversions and the trace
// writer. Elements come from 100-element chunks of a context and point into
// the input where they can, so that decoding from memory copies nothing and
// small runs touch the heap only for contents that need it.
#include "ber.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "mem.h"

namespace mem = tul::mem;
using namespace tul::ber;

const PElement pe_eoc = {};

/* ------------------------------------------------------------------------
 * Elements
 * ---------------------------------------------------------------------- */

void init_PECtx(PECtx* ctx) {
  if (!ctx) return;
  ctx->current = &ctx->stack_memory;
  ctx->stack_memory.next = nullptr;
  ctx->stack_memory.offset = 0;
}

PElement* new_PE(PECtx* ctx, uint8_t tagclass, uint8_t form, uint16_t id) {
  if (!ctx || !ctx->current) return nullptr;
  PEChunk* chunk = ctx->current;
  if (chunk->offset >= kChunkElements) {
    auto* added = static_cast<PEChunk*>(mem::alloc(sizeof(PEChunk)));
    if (!added) return nullptr;
    added->next = nullptr;
    added->offset = 0;
    chunk->next = added;
    ctx->current = added;
    chunk = added;
  }
  PElement* pe = &chunk->array[chunk->offset++];
  *pe = PElement{};
  pe->pe_class = tagclass;
  pe->pe_form = form;
  pe->pe_id = id;
  return pe;
}

void free_PECtx(PECtx* ctx) {
  if (!ctx) return;
  PEChunk* chunk = ctx->stack_memory.next;
  while (chunk) {
    PEChunk* next = chunk->next;
    mem::free(chunk);
    chunk = next;
  }
  init_PECtx(ctx);
}

namespace {

bool owns_contents(const PElement* pe) {
  return pe->pe_form != kConstructed && pe->pe_inline == 0 && pe->pe_un1.un_pe_prim != nullptr;
}

void release_contents(PElement* pe) {
  mem::free(pe->pe_un1.un_pe_prim);
  pe->pe_un1.un_pe_prim = nullptr;
}

}  // namespace

void pe_free(PElement* pe) {
  if (!pe) return;
  if (pe->pe_form == kConstructed) {
    for (PElement* child = pe->pe_un1.un_pe_cons; child; child = child->pe_next) pe_free(child);
  } else if (owns_contents(pe)) {
    release_contents(pe);
  }
}

int seq_addon(PElement* pe, PElement* last, PElement* added) {
  if (!pe || !added) return 0;
  if (last)
    last->pe_next = added;
  else
    pe->pe_un1.un_pe_cons = added;
  return 0;
}

namespace tul::ber {

void free_contents(PECtx* ctx) {
  if (!ctx) return;
  for (PEChunk* chunk = &ctx->stack_memory; chunk; chunk = chunk->next) {
    for (int i = 0; i < chunk->offset; ++i) {
      if (owns_contents(&chunk->array[i])) release_contents(&chunk->array[i]);
    }
  }
}

}  // namespace tul::ber

/* ------------------------------------------------------------------------
 * Streams
 * ---------------------------------------------------------------------- */

PStream* ps_alloc(PsOpenProc open) {
  auto* ps = static_cast<PStream*>(mem::zalloc(sizeof(PStream)));
  if (!ps) return nullptr;
  if (open && open(ps) == -1) {
    mem::free(ps);
    return nullptr;
  }
  return ps;
}

void ps_free(PStream* ps) {
  if (!ps) return;
  if (ps->ps_closeP) ps->ps_closeP(ps);
  mem::free(ps);
}

int ps_prime(PStream* ps, int waiting) { return ps->ps_primeP ? ps->ps_primeP(ps, waiting) : 0; }

int ps_flush(PStream* ps) { return ps->ps_flushP ? ps->ps_flushP(ps) : 0; }

int ps_io(PStream* ps, PsIoProc procedure, unsigned char* data, int n, int in_line) {
  if (!procedure) {
    ps->ps_errno = kPsEndOfData;
    return -1;
  }
  while (n > 0) {
    int moved = procedure(ps, data, n, in_line);
    if (moved < 0) return -1;
    if (moved == 0) {
      ps->ps_errno = kPsEndOfData;
      return -1;
    }
    data += moved;
    n -= moved;
    ps->ps_byteno += moved;
  }
  return 0;
}

int str_open(PStream* ps) {
  ps->ps_readP = str_read;
  ps->ps_writeP = str_write;
  ps->ps_closeP = str_close;
  return 0;
}

int str_setup(PStream* ps, char* cp, int cc, int in_line) {
  if (in_line) {
    ps->ps_inline = 1;
    ps->ps_base = ps->ps_ptr = cp;
    ps->ps_cnt = ps->ps_bufsiz = cc;
    return 0;
  }
  if (cc <= 0) return 0;
  char* buffer = static_cast<char*>(mem::alloc(static_cast<size_t>(cc)));
  if (!buffer) {
    ps->ps_errno = kPsNoMemory;
    return -1;
  }
  if (cp) std::memcpy(buffer, cp, static_cast<size_t>(cc));
  ps->ps_base = ps->ps_ptr = buffer;
  ps->ps_cnt = ps->ps_bufsiz = cc;
  return 0;
}

int str_read(PStream* ps, unsigned char* data, int n, int /*in_line*/) {
  if (!ps->ps_base || ps->ps_cnt <= 0 || n <= 0) return 0;
  int count = n < ps->ps_cnt ? n : ps->ps_cnt;
  std::memcpy(data, ps->ps_ptr, static_cast<size_t>(count));
  ps->ps_ptr += count;
  ps->ps_cnt -= count;
  return count;
}

int str_write(PStream* ps, unsigned char* data, int n, int /*in_line*/) {
  if (n <= 0) return 0;
  int grow;
  if (__builtin_add_overflow(n, 512, &grow)) {
    ps->ps_errno = kPsNoMemory;
    return -1;
  }
  if (!ps->ps_base) {
    if (ps->ps_inline) return 0;  // a caller-owned stream without a buffer takes nothing
    char* buffer = static_cast<char*>(mem::alloc(static_cast<size_t>(grow)));
    if (!buffer) {
      ps->ps_errno = kPsNoMemory;
      return -1;
    }
    ps->ps_base = ps->ps_ptr = buffer;
    ps->ps_bufsiz = ps->ps_cnt = grow;
  }
  if (ps->ps_cnt < n) {
    if (ps->ps_inline) {
      n = ps->ps_cnt;
      if (n <= 0) return 0;
    } else {
      int size;
      if (__builtin_add_overflow(ps->ps_bufsiz, grow, &size)) {
        ps->ps_errno = kPsNoMemory;
        return -1;
      }
      ptrdiff_t position = ps->ps_ptr - ps->ps_base;
      char* buffer = static_cast<char*>(mem::realloc(ps->ps_base, static_cast<size_t>(size)));
      if (!buffer) {
        ps->ps_errno = kPsNoMemory;
        return -1;
      }
      ps->ps_base = buffer;
      ps->ps_ptr = buffer + position;
      ps->ps_cnt += grow;
      ps->ps_bufsiz = size;
    }
  }
  std::memcpy(ps->ps_ptr, data, static_cast<size_t>(n));
  ps->ps_ptr += n;
  ps->ps_cnt -= n;
  return n;
}

int str_close(PStream* ps) {
  if (!ps->ps_inline) mem::free(ps->ps_base);
  ps->ps_base = ps->ps_ptr = nullptr;
  ps->ps_cnt = ps->ps_bufsiz = 0;
  return 0;
}

/* ------------------------------------------------------------------------
 * Reading
 * ---------------------------------------------------------------------- */

namespace {

[[gnu::noinline]] int read_octet_through(PStream* ps, unsigned char* octet) {
  return ps_io(ps, ps->ps_readP, octet, 1, 0);
}

// Identifier and length octets come one at a time: a memory stream hands
// them over directly, as str_read through ps_io would.
inline int read_octet(PStream* ps, unsigned char* octet) {
  if (ps->ps_readP == str_read && ps->ps_base && ps->ps_cnt > 0) {
    *octet = static_cast<unsigned char>(*ps->ps_ptr++);
    --ps->ps_cnt;
    ++ps->ps_byteno;
    return 0;
  }
  return read_octet_through(ps, octet);
}

// Identifier octets into class, form and tag number.
bool ps_read_id(PStream* ps, int top, uint8_t* tagclass, uint8_t* form, uint16_t* id) {
  unsigned char octet;
  if (read_octet(ps, &octet) == -1) {
    if (top && ps->ps_errno == kPsEndOfData) ps->ps_errno = 0;
    return false;
  }
  *tagclass = static_cast<uint8_t>(octet >> 6);
  *form = (octet & 0x20) ? kConstructed : kPrimitive;
  uint16_t number = octet & 0x1F;
  if (number == 0x1F) {
    number = 0;
    do {
      if (read_octet(ps, &octet) == -1) {
        ps->ps_errno = kPsEndInTag;
        return false;
      }
      // A 16-bit accumulator takes two full groups; a third would shift
      // significant bits out.
      if (number & 0x3F80) {
        ps->ps_errno = kPsTagOverflow;
        return false;
      }
      number = static_cast<uint16_t>((number << 7) | (octet & 0x7F));
    } while (octet & 0x80);
  }
  *id = number;
  return true;
}

bool ps_read_len(PStream* ps, int* len) {
  unsigned char octet;
  if (read_octet(ps, &octet) == -1) return false;
  if (!(octet & 0x80)) {
    *len = octet;
    return true;
  }
  int count = octet & 0x7F;
  if (count == 0) {
    *len = -1;
    return true;
  }
  if (count > 4) {
    ps->ps_errno = kPsLengthOverflow;
    return false;
  }
  uint32_t value = 0;
  while (count-- > 0) {
    if (read_octet(ps, &octet) == -1) {
      ps->ps_errno = kPsEndInLength;
      return false;
    }
    value = (value << 8) | octet;
  }
  if (value > static_cast<uint32_t>(INT32_MAX)) {
    ps->ps_errno = kPsLengthOverflow;
    return false;
  }
  *len = static_cast<int>(value);
  return true;
}

PElement* read_element(PStream* ps, int top, int all, int depth);

// Children of a constructed element of contents length `len` (-1: up to the
// end-of-contents element).
bool ps_read_cons(PStream* ps, PElement** first, int len, int depth) {
  PElement* last = nullptr;
  int end = 0;
  if (len != -1 && __builtin_add_overflow(ps->ps_byteno, len, &end)) {
    ps->ps_errno = kPsEndOfData;
    return false;
  }
  for (;;) {
    PElement* child = read_element(ps, 0, 1, depth);
    if (!child) return false;
    if (len == -1 && child->pe_class == kUniversal && child->pe_id == kTagEndOfContents) {
      pe_free(child);
      return true;
    }
    if (last)
      last->pe_next = child;
    else
      *first = child;
    last = child;
    if (len != -1) {
      if (ps->ps_byteno == end) return true;
      if (ps->ps_byteno > end) {
        ps->ps_errno = kPsLengthMismatch;
        return false;
      }
    }
  }
}

bool read_contents(PStream* ps, PElement* pe, int depth) {
  if (pe->pe_form != kConstructed) {
    if (pe->pe_len == -1) {
      ps->ps_errno = kPsIndefinitePrimitive;
      return false;
    }
    if (pe->pe_len == 0) return true;
    if (ps->ps_inline) {
      if (ps->ps_cnt < pe->pe_len) {
        ps->ps_errno = kPsEndOfData;
        return false;
      }
      pe->pe_inline = 1;
      pe->pe_un1.un_pe_prim = reinterpret_cast<unsigned char*>(ps->ps_ptr);
      ps->ps_ptr += pe->pe_len;
      ps->ps_cnt -= pe->pe_len;
      ps->ps_byteno += pe->pe_len;
      return true;
    }
    auto* buffer = static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(pe->pe_len)));
    if (!buffer) {
      ps->ps_errno = kPsNoMemory;
      return false;
    }
    pe->pe_un1.un_pe_prim = buffer;
    return ps_io(ps, ps->ps_readP, buffer, pe->pe_len, 0) == 0;
  }
  if (pe->pe_len == 0) return true;
  if (depth >= kMaxElementDepth) {
    ps->ps_errno = kPsTooDeep;
    return false;
  }
  return ps_read_cons(ps, &pe->pe_un1.un_pe_cons, pe->pe_len, depth + 1);
}

PElement* read_element(PStream* ps, int top, int all, int depth) {
  if (top && ps_prime(ps, 0) == -1) return nullptr;
  uint8_t tagclass = 0, form = 0;
  uint16_t id = 0;
  if (!ps_read_id(ps, top, &tagclass, &form, &id)) return nullptr;
  PElement* pe = new_PE(ps->pe_ctx, tagclass, form, id);
  if (!pe) {
    ps->ps_errno = kPsNoMemory;
    return nullptr;
  }
  bool ok = ps_read_len(ps, &pe->pe_len);
  if (ok && all) {
    ok = read_contents(ps, pe, depth);
    if (ok && top) ok = ps_prime(ps, -1) != -1;
  }
  if (!ok) {
    pe_free(pe);
    return nullptr;
  }
  return pe;
}

}  // namespace

PElement* ps2pe_aux(PStream* ps, int top, int all) {
  if (!ps) return nullptr;
  return read_element(ps, top, all, 0);
}

long tul::ber::element_length(const unsigned char* octets, size_t size, int* error) {
  *error = 0;
  if (!octets || size == 0) return -1;
  // The stream counts in int; a longer buffer still frames its first
  // element as long as that fits.
  int cc = size > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(size);
  ElementContextGuard elements;
  PStream ps{};
  str_open(&ps);
  str_setup(&ps, reinterpret_cast<char*>(const_cast<unsigned char*>(octets)), cc, 1);
  ps.pe_ctx = elements.get();
  PElement* pe = read_element(&ps, 1, 1, 0);
  long length = pe ? ps.ps_byteno : -1;
  if (!pe) *error = ps.ps_errno;
  str_close(&ps);
  return length;
}

/* ------------------------------------------------------------------------
 * Writing
 * ---------------------------------------------------------------------- */

namespace {

int write_octets(PStream* ps, const unsigned char* data, int n) {
  return ps_io(ps, ps->ps_writeP, const_cast<unsigned char*>(data), n, 0);
}

// Base-128 groups a tag number needs (at least one).
int tag_groups(unsigned number) {
  int groups = 1;
  while (number >>= 7) ++groups;
  return groups;
}

int length_octets(unsigned len) {
  int count = 1;
  while (len >>= 8) ++count;
  return count;
}

int long_id_octets(const PElement* pe, unsigned char first, unsigned char* octets);

// The identifier octets of `pe` into `octets` (room for 4); their count.
// Short tags, nearly all of them, take the inlined part.
inline int id_octets(const PElement* pe, unsigned char* octets) {
  unsigned char first = static_cast<unsigned char>((pe->pe_class & 3) << 6);
  if (pe->pe_form != kPrimitive) first |= 0x20;
  if (pe->pe_id < 0x1F) {
    octets[0] = first | static_cast<unsigned char>(pe->pe_id);
    return 1;
  }
  return long_id_octets(pe, first, octets);
}

int long_id_octets(const PElement* pe, unsigned char first, unsigned char* octets) {
  octets[0] = first | 0x1F;
  int groups = tag_groups(pe->pe_id);
  for (int i = 0; i < groups; ++i) {
    unsigned char group = (pe->pe_id >> (7 * (groups - 1 - i))) & 0x7F;
    octets[1 + i] = i + 1 < groups ? (group | 0x80) : group;
  }
  return 1 + groups;
}

// The length octets of `len` (-1: indefinite) into `octets` (room for 5);
// their count.
inline int len_octets(int len, unsigned char* octets) {
  if (len == -1) {
    octets[0] = 0x80;
    return 1;
  }
  if (len < 0x80) {
    octets[0] = static_cast<unsigned char>(len);
    return 1;
  }
  int count = length_octets(static_cast<unsigned>(len));
  octets[0] = static_cast<unsigned char>(0x80 | count);
  for (int i = 0; i < count; ++i) octets[1 + i] = static_cast<unsigned char>(len >> (8 * (count - 1 - i)));
  return 1 + count;
}

int ps_write_id(PStream* ps, const PElement* pe) {
  unsigned char octets[4];
  return write_octets(ps, octets, id_octets(pe, octets));
}

int ps_write_len(PStream* ps, int len) {
  unsigned char octets[5];
  return write_octets(ps, octets, len_octets(len, octets));
}

// Contents a primitive or pre-encoded element claims without holding them.
bool lacks_contents(const PElement* pe) { return pe->pe_len > 0 && !pe->pe_un1.un_pe_prim; }

int pe2ps_aux2(PStream* ps, const PElement* pe, int depth) {
  if (pe->pe_form == kInlineConstructed) return write_octets(ps, pe->pe_un1.un_pe_prim, pe->pe_len);
  if (pe->pe_form == kPrimitive && (pe->pe_len < 0 || lacks_contents(pe))) return -1;
  if (ps_write_id(ps, pe) == -1 || ps_write_len(ps, pe->pe_len) == -1) return -1;
  if (pe->pe_form == kPrimitive) return write_octets(ps, pe->pe_un1.un_pe_prim, pe->pe_len);
  if (pe->pe_len == 0) return 0;
  if (depth >= kMaxElementDepth) {
    ps->ps_errno = kPsTooDeep;
    return -1;
  }
  for (const PElement* child = pe->pe_un1.un_pe_cons; child; child = child->pe_next) {
    if (pe2ps_aux2(ps, child, depth + 1) == -1) return -1;
  }
  if (pe->pe_len == -1) return pe2ps_aux2(ps, &pe_eoc, depth + 1);
  return 0;
}

int get_abs(PElement* pe, int depth) {
  if (pe->pe_form == kInlineConstructed) return pe->pe_len < 0 ? -1 : pe->pe_len;
  int contents = 0;
  if (pe->pe_form == kConstructed) {
    if (depth >= kMaxElementDepth) return -1;
    for (PElement* child = pe->pe_un1.un_pe_cons; child; child = child->pe_next) {
      int size = get_abs(child, depth + 1);
      if (size < 0 || __builtin_add_overflow(contents, size, &contents)) return -1;
    }
    pe->pe_len = contents;
  } else {
    if (pe->pe_len < 0) return -1;
    contents = pe->pe_len;
  }
  int header = (pe->pe_id < 0x1F ? 1 : 1 + tag_groups(pe->pe_id)) +
               (contents < 0x80 ? 1 : 1 + length_octets(static_cast<unsigned>(contents)));
  int total;
  if (__builtin_add_overflow(contents, header, &total)) return -1;
  return total;
}

}  // namespace

int pe2ps_aux(PStream* ps, PElement* pe, int eval) {
  if (!ps || !pe) return -1;
  if (eval > 0 && pe->pe_form == kConstructed && ps_get_abs(pe) < 0) return -1;
  if (pe2ps_aux2(ps, pe, 0) == -1) return -1;
  return ps_flush(ps);
}

int ps_get_abs(PElement* pe) { return pe ? get_abs(pe, 0) : -1; }

namespace {

unsigned char* put_contents(const PElement* pe, unsigned char* out) {
  if (pe->pe_len > 0) std::memcpy(out, pe->pe_un1.un_pe_prim, static_cast<size_t>(pe->pe_len));
  return out + pe->pe_len;
}

}  // namespace

unsigned char* tul::ber::write_sized(const PElement* pe, unsigned char* out) {
  if (pe->pe_form != kConstructed && lacks_contents(pe)) return nullptr;
  if (pe->pe_form == kInlineConstructed) return put_contents(pe, out);
  out += id_octets(pe, out);
  out += len_octets(pe->pe_len, out);
  if (pe->pe_form == kPrimitive) return put_contents(pe, out);
  for (const PElement* child = pe->pe_un1.un_pe_cons; child && out; child = child->pe_next)
    out = write_sized(child, out);
  return out;
}

/* ------------------------------------------------------------------------
 * BOOLEAN and INTEGER
 * ---------------------------------------------------------------------- */

namespace {

unsigned char* inline_storage(PElement* pe) { return reinterpret_cast<unsigned char*>(&pe->pe_un2.prim_data); }

bool has_primitive_contents(const PElement* pe) {
  return pe->pe_form == kPrimitive && pe->pe_len > 0 && pe->pe_un1.un_pe_prim;
}

}  // namespace

PElement* bool2prim(PECtx* ctx, int b) {
  PElement* pe = new_PE(ctx, kUniversal, kPrimitive, kTagBoolean);
  if (!pe) return nullptr;
  unsigned char* contents = inline_storage(pe);
  contents[0] = b ? 0xFF : 0x00;
  pe->pe_un1.un_pe_prim = contents;
  pe->pe_len = 1;
  pe->pe_inline = 1;
  return pe;
}

int prim2flag(PElement* pe) {
  if (!pe) return -1;
  if (!has_primitive_contents(pe)) {
    pe->pe_errno = kPeNotPrimitive;
    return -1;
  }
  pe->pe_errno = 0;
  return pe->pe_un1.un_pe_prim[0] != 0 ? 1 : 0;
}

PElement* num2prim(PECtx* ctx, int32_t i, uint8_t tagclass, uint16_t id) { return num2prim64(ctx, i, tagclass, id); }

PElement* num2prim64(PECtx* ctx, int64_t i, uint8_t tagclass, uint16_t id) {
  PElement* pe = new_PE(ctx, tagclass, kPrimitive, id);
  if (!pe) return nullptr;
  uint64_t value = static_cast<uint64_t>(i);
  // Shortest two's complement: the significant bits of the magnitude (the
  // value, or its complement when negative, below 2^63) and a sign bit, in
  // whole octets: one to eight.
  uint64_t probe = i < 0 ? ~value : value;
  int bits = probe ? 64 - __builtin_clzll(probe) : 0;
  int len = bits / 8 + 1;
  // Contents beyond the inline room are owned by the element.
  const bool fits = len <= static_cast<int>(sizeof pe->pe_un2.prim_data);
  auto* contents = fits ? inline_storage(pe) : static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(len)));
  if (!contents) return nullptr;
  for (int k = 0; k < len; ++k) contents[k] = static_cast<unsigned char>(value >> (8 * (len - 1 - k)));
  pe->pe_un1.un_pe_prim = contents;
  pe->pe_len = len;
  pe->pe_inline = fits ? 1 : 0;
  return pe;
}

int32_t prim2num(PElement* pe) { return static_cast<int32_t>(prim2num64(pe, 4)); }

int64_t prim2num64(PElement* pe, int max_octets) {
  if (!pe) return -1;
  if (!has_primitive_contents(pe)) {
    pe->pe_errno = kPeNotPrimitive;
    return -1;
  }
  if (pe->pe_len > max_octets) {
    pe->pe_errno = kPeOverflow;
    return -1;
  }
  pe->pe_errno = 0;
  const unsigned char* contents = pe->pe_un1.un_pe_prim;
  uint64_t value = (contents[0] & 0x80) ? UINT64_MAX : 0;
  for (int k = 0; k < pe->pe_len; ++k) value = (value << 8) | contents[k];
  return static_cast<int64_t>(value);
}

/* ------------------------------------------------------------------------
 * OBJECT IDENTIFIER
 * ---------------------------------------------------------------------- */

namespace {

int subidentifier_octets(uint32_t value) {
  int count = 1;
  while (value >>= 7) ++count;
  return count;
}

}  // namespace

namespace {

unsigned char* put_long_subidentifier(uint32_t value, unsigned char* out) {
  for (int g = subidentifier_octets(value) - 1; g > 0; --g)
    *out++ = static_cast<unsigned char>(((value >> (7 * g)) & 0x7F) | 0x80);
  *out = static_cast<unsigned char>(value & 0x7F);
  return out + 1;
}

// Writes one subidentifier in base-128 groups; the end of the octets
// written. Most arcs take one octet, inline.
inline unsigned char* put_subidentifier(uint32_t value, unsigned char* out) {
  if (value >= 0x80) return put_long_subidentifier(value, out);
  *out = static_cast<unsigned char>(value);
  return out + 1;
}

}  // namespace

int encodeOID(int nelem, const uint32_t elements[], int* len_octets, unsigned char** octets) {
  if (!elements || !len_octets || !octets) return -1;
  if (nelem < 2 || nelem > kMaxOidArcs) return -1;
  if (elements[0] > 2 || (elements[0] < 2 && elements[1] > 39)) return -1;
  // Five octets hold any 32-bit subidentifier.
  unsigned char work[5 * kMaxOidArcs];
  unsigned char* end = put_subidentifier(elements[0] * 40 + elements[1], work);  // wraps as unsigned 32-bit arithmetic does
  for (int k = 2; k < nelem; ++k) end = put_subidentifier(elements[k], end);
  auto total = static_cast<int>(end - work);
  auto* buffer = static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(total)));
  if (!buffer) return -1;
  std::memcpy(buffer, work, static_cast<size_t>(total));
  *len_octets = total;
  *octets = buffer;
  return 0;
}

int prim2oid(uint32_t oid_elements[], int* oid_length, PElement* pe) {
  if (!oid_length) return 0;
  *oid_length = 0;
  if (!oid_elements || !pe || !has_primitive_contents(pe)) return 0;
  const unsigned char* p = pe->pe_un1.un_pe_prim;
  const unsigned char* end = p + pe->pe_len;
  // The last octet ends a subidentifier, so no group runs past the end.
  if (end[-1] & 0x80) return 0;
  int arcs = 0;
  while (p < end) {
    uint32_t value = *p++;
    if (value & 0x80) {
      if (value == 0x80) return 0;  // a leading zero group is not minimal
      value &= 0x7F;
      do {
        if (value > (UINT32_MAX >> 7)) return 0;  // subidentifier beyond 32 bits
        value = (value << 7) | (*p & 0x7F);
      } while (*p++ & 0x80);
    }
    if (arcs == 0) {
      oid_elements[0] = value < 40 ? 0 : value < 80 ? 1 : 2;
      oid_elements[1] = value - 40 * oid_elements[0];
      arcs = 2;
    } else {
      if (arcs >= kMaxOidArcs) return 0;
      oid_elements[arcs++] = value;
    }
  }
  *oid_length = arcs;
  return 1;
}

/* ------------------------------------------------------------------------
 * REAL
 * ---------------------------------------------------------------------- */

namespace {

constexpr int kMaxRealContents = 10;

}  // namespace

PElement* double2prim(PECtx* ctx, double d) {
  if (std::isnan(d)) return nullptr;  // no encoding that this library reads back
  PElement* pe = new_PE(ctx, kUniversal, kPrimitive, kTagReal);
  if (!pe || d == 0.0) return pe;
  unsigned char contents[1 + 2 + 8];
  int len;
  if (std::isinf(d)) {
    contents[0] = d > 0 ? 0x40 : 0x41;
    len = 1;
  } else {
    int exponent;
    double fraction = std::frexp(d, &exponent);
    bool negative = fraction < 0;
    double rest = std::fabs(fraction);
    unsigned char mantissa[8];
    int mantissa_len = 0;
    for (int k = 0; k < 8; ++k) {
      rest *= 256.0;
      double whole = std::floor(rest);
      mantissa[k] = static_cast<unsigned char>(whole);
      rest -= whole;
      if (mantissa[k] != 0) mantissa_len = k + 1;
    }
    int32_t scaled = exponent - 8 * mantissa_len;
    uint32_t bits = static_cast<uint32_t>(scaled);
    int exponent_len = ((scaled < 0 ? ~bits : bits) >> 7) == 0 ? 1 : 2;
    contents[0] = static_cast<unsigned char>((negative ? 0xC0 : 0x80) | (exponent_len - 1));
    for (int k = 0; k < exponent_len; ++k)
      contents[1 + k] = static_cast<unsigned char>(bits >> (8 * (exponent_len - 1 - k)));
    std::memcpy(contents + 1 + exponent_len, mantissa, static_cast<size_t>(mantissa_len));
    len = 1 + exponent_len + mantissa_len;
  }
  auto* buffer = static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(len)));
  if (!buffer) return nullptr;
  std::memcpy(buffer, contents, static_cast<size_t>(len));
  pe->pe_un1.un_pe_prim = buffer;
  pe->pe_len = len;
  return pe;
}

namespace {

double real_failure(PElement* pe, int code) {
  pe->pe_errno = code;
  return -1.0;
}

double binary_real(PElement* pe) {
  const unsigned char* contents = pe->pe_un1.un_pe_prim;
  int len = pe->pe_len;
  unsigned char first = contents[0];
  double sign = (first & 0x40) ? -1.0 : 1.0;
  int base_bits;
  switch ((first >> 4) & 3) {
    case 0: base_bits = 1; break;
    case 1: base_bits = 3; break;
    case 2: base_bits = 4; break;
    default: return real_failure(pe, kPeUnsupportedReal);
  }
  int scale = (first >> 2) & 3;
  int position = 1;
  int exponent_len = (first & 3) + 1;
  if ((first & 3) == 3) {
    if (len < 2) return real_failure(pe, kPeUnsupportedReal);
    exponent_len = contents[1];
    position = 2;
    if (exponent_len > 4) return real_failure(pe, kPeOverflow);
  }
  if (len - position < exponent_len) return real_failure(pe, kPeUnsupportedReal);
  uint32_t bits = (exponent_len > 0 && (contents[position] & 0x80)) ? UINT32_MAX : 0;
  for (int k = 0; k < exponent_len; ++k) bits = (bits << 8) | contents[position + k];
  int64_t exponent = static_cast<int32_t>(bits);
  position += exponent_len;
  double mantissa = 0;
  for (; position < len; ++position) mantissa = mantissa * 256.0 + contents[position];
  // N x 2^F x base^E as one power of two; beyond what a double can hold the
  // clamp still gives the infinity or zero that the product would.
  int64_t shift = scale + exponent * base_bits;
  if (shift > 100000) shift = 100000;
  if (shift < -100000) shift = -100000;
  return sign * std::ldexp(mantissa, static_cast<int>(shift));
}

}  // namespace

double prim2real(PElement* pe) {
  if (!pe) return -1.0;
  if (pe->pe_form != kPrimitive) return real_failure(pe, kPeNotPrimitive);
  if (pe->pe_len == 0) {
    pe->pe_errno = 0;
    return 0.0;
  }
  if (!pe->pe_un1.un_pe_prim || pe->pe_len < 0) return real_failure(pe, kPeNotPrimitive);
  if (pe->pe_len > kMaxRealContents) return real_failure(pe, kPeOverflow);
  pe->pe_errno = 0;
  unsigned char first = pe->pe_un1.un_pe_prim[0];
  if (first & 0x80) return binary_real(pe);
  if ((first & 0x40) == 0) return real_failure(pe, kPeUnsupportedReal);  // decimal forms
  if (pe->pe_len > 1) return real_failure(pe, kPeOverflow);
  if (first == 0x40) return HUGE_VAL;
  if (first == 0x41) return -HUGE_VAL;
  return real_failure(pe, kPeUnsupportedReal);
}

/* ------------------------------------------------------------------------
 * OCTET STRING and the character strings
 * ---------------------------------------------------------------------- */

PElement* oct2prim(PECtx* ctx, const char* s, int len) {
  if (len < 0) return nullptr;
  PElement* pe = new_PE(ctx, kUniversal, kPrimitive, kTagOctetString);
  if (!pe) return nullptr;
  pe->pe_un1.un_pe_prim = reinterpret_cast<unsigned char*>(const_cast<char*>(s));
  pe->pe_len = s ? len : 0;
  pe->pe_inline = 1;
  return pe;
}

namespace {

// Total contents length of a (possibly segmented) string element; checks
// the segment tags on the way. False with pe_errno set on the failing level.
bool string_length(PElement* pe, int* total, int depth) {
  if (pe->pe_form != kConstructed) {
    if (pe->pe_len < 0 || (pe->pe_len > 0 && !pe->pe_un1.un_pe_prim)) {
      pe->pe_errno = kPeNotPrimitive;
      return false;
    }
    *total = pe->pe_len;
    return true;
  }
  if (depth >= kMaxElementDepth) {
    pe->pe_errno = kPeOverflow;
    return false;
  }
  PElement* first = pe->pe_un1.un_pe_cons;
  int sum = 0;
  for (PElement* segment = first; segment; segment = segment->pe_next) {
    bool same_tag = segment->pe_class == first->pe_class && segment->pe_id == first->pe_id;
    bool octets = segment->pe_class == kUniversal && segment->pe_id == kTagOctetString;
    if (!same_tag && !octets) {
      pe->pe_errno = kPeForeignSegment;
      return false;
    }
    int part;
    if (!string_length(segment, &part, depth + 1) || __builtin_add_overflow(sum, part, &sum)) {
      pe->pe_errno = kPeNoMemory;
      return false;
    }
  }
  *total = sum;
  return true;
}

// Copies the contents of the segments in order; `out` has room for them.
unsigned char* copy_string(const PElement* pe, unsigned char* out) {
  if (pe->pe_form != kConstructed) {
    if (pe->pe_len > 0) std::memcpy(out, pe->pe_un1.un_pe_prim, static_cast<size_t>(pe->pe_len));
    return out + (pe->pe_len > 0 ? pe->pe_len : 0);
  }
  for (const PElement* segment = pe->pe_un1.un_pe_cons; segment; segment = segment->pe_next)
    out = copy_string(segment, out);
  return out;
}

}  // namespace

char* prim2str(PElement* pe, int* len) {
  if (len) *len = 0;
  if (!pe || !len) return nullptr;
  // Sizing every segment first makes joining linear, however many segments
  // a constructed string has.
  int total;
  if (!string_length(pe, &total, 0)) return nullptr;
  auto* buffer = static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(total) + 1));
  if (!buffer) {
    pe->pe_errno = kPeNoMemory;
    return nullptr;
  }
  copy_string(pe, buffer)[0] = '\0';
  *len = total;
  return reinterpret_cast<char*>(buffer);
}

/* ------------------------------------------------------------------------
 * BIT STRING
 * ---------------------------------------------------------------------- */

namespace {

// The primitive element that holds bit `*i` of `pe`, with `*i` made relative
// to it; null when the bit lies beyond the end of a constructed string.
PElement* locate_bit(PElement* pe, int* i, int depth) {
  if (pe->pe_form != kConstructed) return pe;
  if (depth >= kMaxElementDepth) return nullptr;
  for (PElement* segment = pe->pe_un1.un_pe_cons; segment; segment = segment->pe_next) {
    if (*i < segment->pe_un2.numberbits) return locate_bit(segment, i, depth + 1);
    *i -= segment->pe_un2.numberbits;
  }
  return nullptr;
}

// Makes a primitive string `bits` long, zero-extending its contents into a
// buffer of its own.
bool extend_bits(PElement* pe, int bits) {
  int needed = (bits - 1) / 8 + 2;
  int old_len = pe->pe_len > 0 && pe->pe_un1.un_pe_prim ? pe->pe_len : 0;
  if (needed > old_len || pe->pe_inline) {
    int size = needed > old_len ? needed : old_len;
    unsigned char* buffer;
    if (pe->pe_inline || !pe->pe_un1.un_pe_prim) {
      buffer = static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(size)));
      if (buffer && old_len > 0) std::memcpy(buffer, pe->pe_un1.un_pe_prim, static_cast<size_t>(old_len));
    } else {
      buffer = static_cast<unsigned char*>(mem::realloc(pe->pe_un1.un_pe_prim, static_cast<size_t>(size)));
    }
    if (!buffer) {
      pe->pe_errno = kPeNoMemory;
      return false;
    }
    std::memset(buffer + old_len, 0, static_cast<size_t>(size - old_len));
    pe->pe_un1.un_pe_prim = buffer;
    pe->pe_inline = 0;
    pe->pe_len = size;
  }
  pe->pe_un2.numberbits = bits;
  return true;
}

int change_bit(PElement* pe, int i, bool on) {
  if (!pe) return -1;
  if (i < 0) {
    pe->pe_errno = kPeBitNotPresent;
    return -1;
  }
  int relative = i;
  PElement* holder = locate_bit(pe, &relative, 0);
  if (!holder) {
    pe->pe_errno = kPeBitNotPresent;
    return -1;
  }
  int bits = holder->pe_un2.numberbits;
  if (relative >= bits || !holder->pe_un1.un_pe_prim || 1 + relative / 8 >= holder->pe_len) {
    if (relative == INT_MAX || !extend_bits(holder, relative >= bits ? relative + 1 : bits)) {
      pe->pe_errno = kPeNoMemory;
      return -1;
    }
  }
  unsigned char* octet = &holder->pe_un1.un_pe_prim[1 + relative / 8];
  unsigned char mask = static_cast<unsigned char>(0x80 >> (relative % 8));
  if (on)
    *octet |= mask;
  else
    *octet &= static_cast<unsigned char>(~mask);
  return 0;
}

bool unused_bits_octet(PElement* pe) {
  if (pe->pe_form == kConstructed) {
    for (PElement* segment = pe->pe_un1.un_pe_cons; segment; segment = segment->pe_next)
      if (!unused_bits_octet(segment)) return false;
    return true;
  }
  if (pe->pe_len <= 0 || !pe->pe_un1.un_pe_prim) {
    auto* buffer = static_cast<unsigned char*>(mem::zalloc(1));
    if (!buffer) {
      pe->pe_errno = kPeNoMemory;
      return false;
    }
    pe->pe_un1.un_pe_prim = buffer;
    pe->pe_len = 1;
    pe->pe_inline = 0;
    pe->pe_un2.numberbits = 0;
  }
  int64_t unused = int64_t{8} * pe->pe_len - 8 - pe->pe_un2.numberbits;
  if (unused < 0 || unused >= 8) {
    pe->pe_errno = kPeBadUnusedBits;
    return false;
  }
  if (pe->pe_inline) {
    // Never write into octets the element does not own.
    auto* buffer = static_cast<unsigned char*>(mem::alloc(static_cast<size_t>(pe->pe_len)));
    if (!buffer) {
      pe->pe_errno = kPeNoMemory;
      return false;
    }
    std::memcpy(buffer, pe->pe_un1.un_pe_prim, static_cast<size_t>(pe->pe_len));
    pe->pe_un1.un_pe_prim = buffer;
    pe->pe_inline = 0;
  }
  pe->pe_un1.un_pe_prim[0] = static_cast<unsigned char>(unused);
  return true;
}

bool count_bits(PElement* pe, int depth) {
  if (pe->pe_form == kConstructed) {
    if (depth >= kMaxElementDepth) {
      pe->pe_errno = kPeOverflow;
      return false;
    }
    int sum = 0;
    for (PElement* segment = pe->pe_un1.un_pe_cons; segment; segment = segment->pe_next) {
      if (!count_bits(segment, depth + 1)) {
        pe->pe_errno = segment->pe_errno;
        return false;
      }
      if (__builtin_add_overflow(sum, segment->pe_un2.numberbits, &sum)) {
        pe->pe_errno = kPeOverflow;
        return false;
      }
    }
    pe->pe_un2.numberbits = sum;
    return true;
  }
  if (pe->pe_len <= 0 || !pe->pe_un1.un_pe_prim) {
    pe->pe_un2.numberbits = 0;
    return true;
  }
  int unused = pe->pe_un1.un_pe_prim[0];
  int64_t data_bits = int64_t{8} * (pe->pe_len - 1);
  if (unused >= 8 || unused > data_bits) {
    pe->pe_errno = kPeBadUnusedBits;
    return false;
  }
  if (data_bits - unused > INT_MAX) {
    pe->pe_errno = kPeOverflow;
    return false;
  }
  pe->pe_un2.numberbits = static_cast<int>(data_bits - unused);
  return true;
}

// Copies the significant bits of `pe` into `out` from bit `*next` on,
// stopping at `limit` bits.
void gather_bits(const PElement* pe, unsigned char* out, int* next, int limit, int depth) {
  if (pe->pe_form == kConstructed) {
    if (depth >= kMaxElementDepth) return;
    for (const PElement* segment = pe->pe_un1.un_pe_cons; segment && *next < limit; segment = segment->pe_next)
      gather_bits(segment, out, next, limit, depth + 1);
    return;
  }
  if (pe->pe_len <= 1 || !pe->pe_un1.un_pe_prim) return;
  int64_t available = int64_t{8} * (pe->pe_len - 1);
  int64_t bits = pe->pe_un2.numberbits < available ? pe->pe_un2.numberbits : available;
  const unsigned char* data = pe->pe_un1.un_pe_prim + 1;
  if (*next % 8 == 0 && bits > 0) {
    if (bits > limit - *next) bits = limit - *next;
    int whole = static_cast<int>((bits + 7) / 8);
    std::memcpy(out + *next / 8, data, static_cast<size_t>(whole));
    if (bits % 8) out[*next / 8 + whole - 1] &= static_cast<unsigned char>(0xFF00 >> (bits % 8));
    *next += static_cast<int>(bits);
    return;
  }
  for (int64_t b = 0; b < bits && *next < limit; ++b, ++*next) {
    if (data[b / 8] & (0x80 >> (b % 8))) out[*next / 8] |= static_cast<unsigned char>(0x80 >> (*next % 8));
  }
}

}  // namespace

PElement* prim2bit(PElement* pe) {
  if (!pe) return nullptr;
  return count_bits(pe, 0) ? pe : nullptr;
}

PElement* bit2prim(PElement* pe) {
  if (!pe) return nullptr;
  return unused_bits_octet(pe) ? pe : nullptr;
}

int bit_on(PECtx* /*ctx*/, PElement* pe, int i) { return change_bit(pe, i, true); }

int bit_off(PECtx* /*ctx*/, PElement* pe, int i) { return change_bit(pe, i, false); }

int bit_test(PECtx* /*ctx*/, PElement* pe, int i) {
  if (!pe) return -1;
  int relative = i;
  PElement* holder = i < 0 ? nullptr : locate_bit(pe, &relative, 0);
  if (!holder || relative >= holder->pe_un2.numberbits || !holder->pe_un1.un_pe_prim ||
      1 + relative / 8 >= holder->pe_len) {
    pe->pe_errno = kPeBitNotPresent;
    return -1;
  }
  return (holder->pe_un1.un_pe_prim[1 + relative / 8] & (0x80 >> (relative % 8))) ? 1 : 0;
}

PElement* strb2bitstr(PECtx* ctx, const char* cp, int len) {
  PElement* pe = new_PE(ctx, kUniversal, kPrimitive, kTagBitString);
  if (!pe) return nullptr;
  if (len <= 0) return pe;
  bool ok = bit_off(ctx, pe, len - 1) == 0;
  for (int i = 0; ok && cp && i < len; ++i) {
    if (cp[i / 8] & (0x80 >> (i % 8))) ok = bit_on(ctx, pe, i) == 0;
  }
  if (!ok) {
    pe_free(pe);
    return nullptr;
  }
  return pe;
}

char* bitstr2strb(PECtx* /*ctx*/, PElement* pe, int* k) {
  if (k) *k = 0;
  if (!pe || !k) return nullptr;
  int bits = pe->pe_un2.numberbits > 0 ? pe->pe_un2.numberbits : 0;
  auto* buffer = static_cast<unsigned char*>(mem::zalloc(static_cast<size_t>(bits) / 8 + 2));
  if (!buffer) return nullptr;
  int next = 0;
  gather_bits(pe, buffer, &next, bits, 0);
  *k = bits;
  return reinterpret_cast<char*>(buffer);
}

/* ------------------------------------------------------------------------
 * Trace writer
 * ---------------------------------------------------------------------- */

namespace {

constexpr int kTraceLine = 512;
// Indentation stops growing here so that every line fits the line buffer.
constexpr int kTraceMaxIndentLevel = 100;

constexpr const char* kClassNames[4] = {"UNIV", "APPL", "CONT", "PRIV"};
constexpr const char* kUniversalNames[29] = {
    "EOC",  "BOOL", "INT",  "BITS", "OCTS", "NULL", "OID",  "ODE",  "EXTN", "REAL",
    "ENUM", "ENCR", nullptr, nullptr, nullptr, nullptr, "SEQ", "SET", "NUMS", "PRTS",
    "T61S", "VTXS", "IA5S", "UTCT", "GENT", "GFXS", "VISS", "GENS", "CHRS"};

bool text_eligible(const PElement* pe) {
  return pe->pe_class == kUniversal && pe->pe_form == kPrimitive &&
         (pe->pe_id == 4 || pe->pe_id == 7 || (pe->pe_id >= 18 && pe->pe_id <= 27));
}

// A blank or a visible 7-bit character other than the double quote.
bool shows_as_text(unsigned char c) { return c >= 0x20 && c <= 0x7E && c != '"'; }

int pad(int level) {
  if (level > kTraceMaxIndentLevel) level = kTraceMaxIndentLevel;
  return 4 * level;
}

int put(PStream* ps, const char* line, int n) {
  if (n < 0) return -1;
  if (n >= kTraceLine) n = kTraceLine - 1;
  return write_octets(ps, reinterpret_cast<const unsigned char*>(line), n);
}

}  // namespace

int pe2pl_aux(PStream* ps, PElement* pe, int level) {
  if (!ps || !pe) return -1;
  if (level > kMaxElementDepth) return -1;
  char line[kTraceLine];
  int n = std::snprintf(line, sizeof line, "-- %*s( %s ", pad(level), "", kClassNames[pe->pe_class & 3]);
  const char* name = pe->pe_class == kUniversal && pe->pe_id < 29 ? kUniversalNames[pe->pe_id] : nullptr;
  if (name)
    n += std::snprintf(line + n, sizeof line - n, "%s", name);
  else
    n += std::snprintf(line + n, sizeof line - n, "0x%x", pe->pe_id);
  const char* prefix = "-- ";
  int closing_pad = pad(level);
  if (pe->pe_form == kConstructed) {
    PElement* child = pe->pe_un1.un_pe_cons;
    if (!child) {
      line[n++] = ' ';
      prefix = "";
      closing_pad = 0;
      if (put(ps, line, n) == -1) return -1;
    } else {
      line[n++] = '\n';
      if (put(ps, line, n) == -1) return -1;
      for (; child; child = child->pe_next)
        if (pe2pl_aux(ps, child, level + 1) == -1) return -1;
    }
  } else {
    int len = pe->pe_len > 0 && pe->pe_un1.un_pe_prim ? pe->pe_len : 0;
    n += std::snprintf(line + n, sizeof line - n, " 0x%x%c", static_cast<unsigned>(len), len ? '\n' : ' ');
    if (put(ps, line, n) == -1) return -1;
    if (len == 0) closing_pad = 0;
    const unsigned char* contents = pe->pe_un1.un_pe_prim;
    for (int at = 0; at < len; at += 4) {
      int count = len - at < 4 ? len - at : 4;
      bool text = text_eligible(pe);
      for (int k = 0; text && k < count; ++k) text = shows_as_text(contents[at + k]);
      n = std::snprintf(line, sizeof line, "-- %*s%s", pad(level + 1), "", text ? "\"" : "0x");
      for (int k = 0; k < count; ++k) {
        if (text)
          line[n++] = static_cast<char>(contents[at + k]);
        else
          n += std::snprintf(line + n, sizeof line - n, "%02x", contents[at + k]);
      }
      if (text) line[n++] = '"';
      line[n++] = '\n';
      if (put(ps, line, n) == -1) return -1;
    }
  }
  n = std::snprintf(line, sizeof line, "%s%*s)\n", prefix, closing_pad, "");
  return put(ps, line, n);
}

int pe2pl(PStream* ps, PElement* pe) {
  if (pe2pl_aux(ps, pe, 0) == -1) return -1;
  return ps_flush(ps);
}
