/* tul.h - typed ASN.1 values whose definitions arrive at run time.
 *
 * The only public header of libtul. Every record that crosses the library
 * boundary is declared here as a plain C struct; values, dictionary entries
 * and behaviour tables all begin with a common header so that a pointer to
 * any of them can be cast to TUL_Object* or TUL_Entry*. Valid C11 and C++.
 *
 * Integer fields keep 32-bit semantics (int32_t) on every platform.
 */
#ifndef TUL_H
#define TUL_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#define TUL_API __declspec(dllexport)
#else
#define TUL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TUL_Metadata TUL_Metadata;
typedef struct TUL_Behavior TUL_Behavior;
typedef struct PElement PElement;
typedef struct PECtx PECtx;

/* ------------------------------------------------------------------------
 * Common headers
 * ---------------------------------------------------------------------- */

/* Entry kinds (entry_type). */
enum {
    TUL_ENTRY_ASN1 = 0,
    TUL_ENTRY_NOTIFICATION = 1,
    TUL_ENTRY_ATTRIBUTE = 2,
    TUL_ENTRY_PARAMETER = 3,
    TUL_ENTRY_ACTION = 4,
    TUL_ENTRY_MOC = 5,
    TUL_ENTRY_PACKAGE = 6,
    TUL_ENTRY_NAME_BINDING = 7,
    TUL_ENTRY_ATTRIBUTE_GROUP = 8,
    TUL_ENTRY_BEHAVIOR = 9
};

/* Header of every dictionary entry. `name` is an interned string: the type
 * name of a type entry, the registration text of a template (null for a
 * behaviour template). */
typedef struct TUL_Entry {
    char* name;
    int is_allocated;       /* 1: the entry owns `behavior` */
    TUL_Behavior* behavior; /* null until a type inherits its table */
    TUL_Metadata* dtd;
    int entry_type;
} TUL_Entry;

/* Header of every value. A value whose `error` is not 0 is an error object. */
typedef struct TUL_Object {
    int error;
    void* specific; /* the application's; never freed by the library */
    TUL_Entry* type_ref;
    int32_t ref_cnt; /* number of containers holding the value */
} TUL_Object;

/* ------------------------------------------------------------------------
 * Codec and value-notation contexts handed to behaviours
 * ---------------------------------------------------------------------- */

typedef struct TULE_EncodeContext {
    PElement* pe;      /* set by the behaviour: root of the tree it built */
    TUL_Object* error; /* error object of a failing behaviour, or null */
    PECtx* pe_ctx;     /* context in which encoders create elements */
} TULE_EncodeContext;

typedef struct TULE_DecodeContext {
    PElement* pe;      /* element to decode */
    TUL_Object* error; /* error object of a failing behaviour, or null */
    PECtx* pe_ctx;
} TULE_DecodeContext;

/* Token kinds of the value-notation tokenizer. */
typedef int TULP_TokenType;
enum {
    TULP_OPEN_BRACE = 0,
    TULP_CLOSE_BRACE = 1,
    TULP_COMMA = 2,
    TULP_COLON = 3,
    TULP_LOWER_NAME = 4,
    TULP_UPPER_NAME = 5,
    TULP_STRING = 6,
    TULP_HSTRING = 7,
    TULP_BSTRING = 8,
    TULP_NUMBER = 9,
    TULP_NO_TOKEN = 10
};

#define TULP_MAX_TOKEN 5120

typedef struct TULP_ParseContext {
    void* stream;           /* character source handle, passed to `next` */
    int (*next)(void*);     /* next character 0..255, or -1 at end */
    TUL_Object* error;      /* first error of the run, or null */
    TUL_Metadata* dtd;
    TULP_TokenType id;      /* kind of the current token */
    int ch;                 /* look-ahead character */
    int line_nbr;
    int len;                /* characters in `buffer` */
    char buffer[TULP_MAX_TOKEN];
} TULP_ParseContext;

typedef struct TULP_PrintContext {
    void* ptr; /* sink handle */
    void (*printc)(int c, void* sink);
    void (*prints)(const char* text, void* sink);
    int level; /* current nesting level */
} TULP_PrintContext;

typedef struct TULP_PrintBuffer {
    void* ptr;  /* start of the heap block */
    int remain; /* room counter; the block grows when it drops below 1 */
    int size;   /* bytes allocated */
    char* pos;  /* where the next character goes */
} TULP_PrintBuffer;

/* ------------------------------------------------------------------------
 * Behaviour tables
 * ---------------------------------------------------------------------- */

/* Basic types: one bit per built-in table. */
enum {
    TUL_BOOLEAN_TYPE = 0x1,
    TUL_INTEGER_TYPE = 0x2,
    TUL_BITSTRING_TYPE = 0x4,
    TUL_OCTETSTRING_TYPE = 0x8,
    TUL_NULL_TYPE = 0x10,
    TUL_OID_TYPE = 0x20,
    TUL_REAL_TYPE = 0x40,
    TUL_ENUMERATED_TYPE = 0x80,
    TUL_SEQUENCE_TYPE = 0x100,
    TUL_SEQUENCEOF_TYPE = 0x200,
    TUL_SET_TYPE = 0x400,
    TUL_SETOF_TYPE = 0x800,
    TUL_CHOICE_TYPE = 0x1000
};

typedef void* (*TUL_ActionFunction)(TUL_Object* obj, void* data);

typedef struct TUL_ActionPair {
    char* name; /* interned; null ends the list */
    TUL_ActionFunction function;
} TUL_ActionPair;

/* Maps an INTEGER or ENUMERATED identifier of an ANY DEFINED BY member to
 * the syntax type name; the array ends with a record whose syntax is null. */
typedef struct TUL_LocalFormMapping {
    int32_t localFormId;
    char* syntax;
} TUL_LocalFormMapping;

#define TUL_MAX_ACTIONS 11

/* The init slot receives the variable arguments of TUL_new / TUL_init as a
 * pointer to their va_list; integers, lengths and counts are read as int,
 * REAL values as double, everything else as pointers. */
struct TUL_Behavior {
    int32_t basic_type;
    TUL_Object* (*alloc)(TUL_Entry* entry);
    TUL_Object* (*init)(TUL_Object* obj, va_list* args);
    void (*free)(TUL_Object* obj);
    int (*decode)(TUL_Object* obj, TULE_DecodeContext* ctx);
    int (*encode)(TUL_Object* obj, TULE_EncodeContext* ctx);
    TUL_Object* (*parse)(TUL_Object* obj, TULP_ParseContext* ctx);
    void (*print)(TUL_Object* obj, TULP_PrintContext* ctx);
    TUL_Object* (*copy)(TUL_Object* obj);
    long (*size)(TUL_Object* obj);
    int (*equal)(TUL_Object* obj1, TUL_Object* obj2);
    void* (*evaluate)(TUL_Object* obj, void* data);
    unsigned int (*hash)(TUL_Object* obj);
    TUL_ActionPair action[TUL_MAX_ACTIONS];
    TUL_LocalFormMapping* mapping;
};

/* ------------------------------------------------------------------------
 * Hash tables
 * ---------------------------------------------------------------------- */

#define TULH_BUCKETS 1023

typedef struct TULH_HT {
    int32_t count;
    uint32_t (*hash_function)(void* entry_or_key);
    int (*equal_function)(void* entry, void* key);
    void** table[TULH_BUCKETS]; /* null-terminated bucket arrays */
} TULH_HT;

/* ------------------------------------------------------------------------
 * Dictionary entries
 * ---------------------------------------------------------------------- */

typedef struct TUL_EnumList {
    char* name; /* interned label */
    int32_t val;
} TUL_EnumList;

/* Tag flags: low two bits the class, plus one of the two modes. */
enum {
    TUL_TAG_UNIVERSAL = 0,
    TUL_TAG_APPLICATION = 1,
    TUL_TAG_CONTEXT = 2,
    TUL_TAG_PRIVATE = 3,
    TUL_TAG_CLASS_MASK = 0x3,
    TUL_TAG_IMPLICIT = 0x10,
    TUL_TAG_EXPLICIT = 0x20
};

/* Existence of a member (opt_def). */
enum { TUL_MANDATORY = 0, TUL_OPTIONAL = 1, TUL_DEFAULT = 2 };

typedef struct TUL_Asn1Type {
    char* name; /* null for the element of SEQUENCE OF / SET OF */
    int32_t tag_flag;
    int32_t tag_val;
    char* type;
    int32_t enums;
    TUL_EnumList* enum_list;
    int32_t opt_def;
    char* anydefbyId; /* sibling selecting an ANY DEFINED BY member's type */
} TUL_Asn1Type;

typedef struct TUL_Asn1TypeEntry {
    char* name;
    int is_allocated;
    TUL_Behavior* behavior;
    TUL_Metadata* dtd;
    int entry_type;
    int is_builtin;
    int32_t tag_flag;
    int32_t tag_val;
    char* type; /* base type name; null for the built-in roots */
    int32_t size;
    TUL_Asn1Type* members;
    int32_t enums;
    TUL_EnumList* enum_list;
    struct TUL_Asn1TypeEntry* final_def; /* cached description entry */
    int has_explicit;
    TUL_Object* obj; /* cached describing "TUL.Asn1" value, owned */
    void* cache;     /* answers the decoder keeps about the entry, owned */
} TUL_Asn1TypeEntry;

typedef struct TUL_AndAttributeId {
    char* field_name;
    char* attribute;
    TUL_Object* oid; /* owned by the notification entry */
} TUL_AndAttributeId;

/* Template entries: the entry header, then `label` (the key of the label
 * tables), then the fields of the kind, then the owned describing value. */
#define TUL_TEMPLATE_HEADER \
    char* name;             \
    int is_allocated;       \
    TUL_Behavior* behavior; \
    TUL_Metadata* dtd;      \
    int entry_type;         \
    char* label

typedef struct TUL_NotificationEntry {
    TUL_TEMPLATE_HEADER;
    char* info_syntax;
    char* reply_syntax;
    int32_t size;
    TUL_AndAttributeId* ids;
    TUL_Object* obj;
} TUL_NotificationEntry;

typedef struct TUL_AttributeEntry {
    TUL_TEMPLATE_HEADER;
    char* syntax;
    TUL_Object* obj;
} TUL_AttributeEntry;

typedef struct TUL_ParameterEntry {
    TUL_TEMPLATE_HEADER;
    char* syntax;
    TUL_Object* obj;
} TUL_ParameterEntry;

typedef struct TUL_ActionEntry {
    TUL_TEMPLATE_HEADER;
    char* info_syntax;
    char* reply_syntax;
    TUL_Object* obj;
} TUL_ActionEntry;

typedef struct TUL_MOCEntry {
    TUL_TEMPLATE_HEADER;
    TUL_Object* obj;
} TUL_MOCEntry;

typedef struct TUL_PackageEntry {
    TUL_TEMPLATE_HEADER;
    TUL_Object* obj;
} TUL_PackageEntry;

typedef struct TUL_NameBindingEntry {
    TUL_TEMPLATE_HEADER;
    TUL_Object* obj;
} TUL_NameBindingEntry;

typedef struct TUL_AttributeGroupEntry {
    TUL_TEMPLATE_HEADER;
    TUL_Object* obj;
} TUL_AttributeGroupEntry;

typedef struct TUL_BehaviorEntry {
    TUL_TEMPLATE_HEADER;
    TUL_Object* obj;
} TUL_BehaviorEntry;

#undef TUL_TEMPLATE_HEADER

/* ------------------------------------------------------------------------
 * The dictionary
 * ---------------------------------------------------------------------- */

struct TUL_Metadata {
    TUL_Behavior boolean_behavior;
    TUL_Behavior integer_behavior;
    TUL_Behavior bitstring_behavior;
    TUL_Behavior octet_behavior;
    TUL_Behavior printable_behavior;
    TUL_Behavior null_behavior;
    TUL_Behavior oid_behavior;
    TUL_Behavior real_behavior;
    TUL_Behavior enum_behavior;
    TUL_Behavior choice_behavior;
    TUL_Behavior sequence_behavior;
    TUL_Behavior sequenceof_behavior;
    TUL_Behavior set_behavior;
    TUL_Behavior setof_behavior;
    TULH_HT* asn1_types;
    TULH_HT* attributes;
    TULH_HT* notifications;
    TULH_HT* parameters;
    TULH_HT* actions;
    TULH_HT* mocs;
    TULH_HT* packages;
    TULH_HT* name_bindings;
    TULH_HT* attribute_groups;
    TULH_HT* behaviors;
    TULH_HT* registrations;
    TULH_HT* gdmo_templates;
    int valid_registrations;
    TUL_Object* tmp_object;  /* fills empty member slots */
    TUL_Object* alloc_error; /* the allocation-error singleton */
};

/* The fourteen process-wide built-in behaviour tables. A new dictionary
 * takes its own copies of them. */
TUL_API extern TUL_Behavior TUL_boolean_behavior;
TUL_API extern TUL_Behavior TUL_integer_behavior;
TUL_API extern TUL_Behavior TUL_bitstring_behavior;
TUL_API extern TUL_Behavior TUL_octet_behavior;
TUL_API extern TUL_Behavior TUL_printable_behavior;
TUL_API extern TUL_Behavior TUL_null_behavior;
TUL_API extern TUL_Behavior TUL_oid_behavior;
TUL_API extern TUL_Behavior TUL_real_behavior;
TUL_API extern TUL_Behavior TUL_enum_behavior;
TUL_API extern TUL_Behavior TUL_choice_behavior;
TUL_API extern TUL_Behavior TUL_sequence_behavior;
TUL_API extern TUL_Behavior TUL_sequenceof_behavior;
TUL_API extern TUL_Behavior TUL_set_behavior;
TUL_API extern TUL_Behavior TUL_setof_behavior;

/* ========================================================================
 * Objects and dispatch
 * ====================================================================== */

/* Allocates an empty value of `type` (interned for the _US form). Returns
 * the value with ref_cnt 0, owned by the caller. On failure: the error
 * object of code 4 for an unknown type, null (and trace 21) for null
 * arguments, null when the type has no table to inherit. */
TUL_API TUL_Object* TUL_alloc_US(char* type, TUL_Metadata* dtd);
TUL_API TUL_Object* TUL_alloc(const char* type, TUL_Metadata* dtd);

/* What TUL_new and TUL_init read after the type (TUL_new) or the value
 * (TUL_init), by the basic type the value's type derives from. Integers,
 * lengths and counts are read as int, REAL values as double, the rest as
 * pointers. Exactly these arguments must be passed: a missing one is read
 * from wherever the call left it, which may crash.
 *
 *   BOOLEAN            int: 0 false, anything else true
 *   INTEGER,
 *   ENUMERATED         int: the value (a named value's number)
 *   REAL               double
 *   NULL               nothing
 *   OCTET STRING and   int length, const void* octets: `length` octets are
 *   every string type,   copied (they may hold NUL bytes); -1 takes strlen
 *   BER-String, ANY      of a text; a null pointer gives an empty value
 *   BIT STRING         int count, const void* bits: `count` bits packed
 *                        first bit in the high bit of the first octet; or -1
 *                        and a text of '0' and '1' characters
 *   OBJECT IDENTIFIER  int count, const int32_t* arcs; or -1 and a text of
 *                        arcs separated by blanks ("1 3 6 1")
 *   SEQUENCE, SET      one TUL_Object* per member, in the order of the
 *                        definition (TUL_members); null leaves the slot
 *                        empty. A SEQUENCE of three members takes three
 *                        pointers, even when all are null.
 *   SEQUENCE OF,       int n, then n TUL_Object* elements (null ones are
 *   SET OF               skipped), each of the element type itself
 *   CHOICE             const char* alternative, TUL_Object* value; a null
 *                        value chooses nothing
 *
 * Texts and arrays are copied: they stay the caller's. Values passed to a
 * constructed type are adopted (as by TUL_assign and TUL_append) and are
 * the new value's from then on; on failure every value passed is freed
 * (TUL_free, so one that a container holds is left alone), and a value
 * that is itself an error object becomes the result.
 *
 * Octets of a BER-String, or of any string type, read back as
 * TUL_read_str(v) (not NUL-terminated for binary data) and TUL_size(v)
 * octets; TUL_encode gives a BER-String and TUL_decode takes one:
 *
 *   TUL_Object* ber = TUL_new("BER-String", md, (int)size, received);
 *   TUL_Object* pdu = TUL_decode("Message", ber, md);
 *
 * Texts: every `const char*` input is only read. The _US forms take a
 * string interned with TUL_unique_string, and the arrays of texts taken as
 * `char**` (TUL_load_Metadata_string, TUL_generate_Metadata_string) are
 * only read as well: an array of const char* may be passed with a cast. */

/* Fills `obj` from the arguments above. Returns `obj`, or an error object
 * after `obj` has been freed (code 21 for a negative length or count, 14 for
 * OBJECT IDENTIFIER arcs, 6 for an unknown alternative, 15 for a member or
 * element of another type, 2 on memory shortage). Null for a null `obj`,
 * and null (with `obj` kept, unchanged) for an OBJECT IDENTIFIER given a
 * null pointer. */
TUL_API TUL_Object* TUL_init(TUL_Object* obj, ...);

/* Allocates and initialises a value: TUL_new("INTEGER", md, 5),
 * TUL_new("IA5String", md, -1, "text"), TUL_new("OBJECT IDENTIFIER", md, 4,
 * arcs) with int32_t arcs, TUL_new("Port", md, number, label) for a
 * SEQUENCE of two members. Returns the new value (ref_cnt 0) or an error
 * object (caller frees either with TUL_free; nothing else is left to free);
 * null as TUL_alloc does. */
TUL_API TUL_Object* TUL_new_US(char* type, TUL_Metadata* dtd, ...);
TUL_API TUL_Object* TUL_new(const char* type, TUL_Metadata* dtd, ...);

/* Releases `obj` unless a container holds it (ref_cnt not 0). Null: nothing. */
TUL_API void TUL_free(TUL_Object* obj);
/* Deep copy with ref_cnt 0, owned by the caller; null for null. On memory
 * shortage the allocation-error object. */
TUL_API TUL_Object* TUL_copy(TUL_Object* obj);
/* The type's own measure of the value (element count for lists); 0 for null. */
TUL_API long TUL_size(TUL_Object* obj);
/* Non-zero when equal; 0 when either is null. */
TUL_API int TUL_equal(TUL_Object* obj1, TUL_Object* obj2);
/* Hash of the value; 0 for null. */
TUL_API unsigned int TUL_hash(TUL_Object* obj);
/* The type's evaluate hook; null for null. */
TUL_API void* TUL_evaluate(TUL_Object* obj, void* data);

/* Interned type name of the value; null for null. */
TUL_API char* TUL_object_type(TUL_Object* obj);
/* Basic-type bit of the value's table; 0 for null. */
TUL_API int TUL_object_basic_type(TUL_Object* obj);
/* Dictionary of the value's type; null for null. */
TUL_API TUL_Metadata* TUL_get_Metadata(TUL_Object* obj);
/* Attaches an application pointer (never read or freed by the library). */
TUL_API void TUL_attach_data(TUL_Object* obj, void* data);
TUL_API void* TUL_get_attached(TUL_Object* obj);

/* Gives `type` the table `behavior`, which stays the caller's. Unknown type:
 * trace 4, nothing changes. */
TUL_API void TUL_set_method_table_US(TUL_Metadata* dtd, char* type, TUL_Behavior* behavior);
TUL_API void TUL_set_method_table(TUL_Metadata* dtd, const char* type, TUL_Behavior* behavior);
/* The type's current table; null when not yet inherited, for null arguments,
 * or (with trace 4) for an unknown type. */
TUL_API TUL_Behavior* TUL_get_method_table_US(TUL_Metadata* dtd, char* type);
TUL_API TUL_Behavior* TUL_get_method_table(TUL_Metadata* dtd, const char* type);

/* Writes one tab per two levels of ctx->level, then four blanks for an odd
 * level left over. */
TUL_API void TUL_print_indentation(TULP_PrintContext* ctx);

/* ========================================================================
 * Errors
 * ====================================================================== */

/* The error codes: the `error` field of an error object, and the number
 * after "#" in a trace line. Codes 1, 3, 18 and 19 are unused. */
typedef enum TUL_ErrorCode {
  TUL_ERR_MEMORY = 2,         /* memory allocation error */
  TUL_ERR_NO_TYPE = 4,        /* no ASN.1 definition with that name */
  TUL_ERR_LIMIT = 5,          /* an internal limit is reached */
  TUL_ERR_NO_FIELD = 6,       /* no member of that name in the type */
  TUL_ERR_INCOMPATIBLE = 7,   /* wrong basic type for the function */
  TUL_ERR_INDEX = 8,          /* list index out of range */
  TUL_ERR_NO_BEHAVIOR = 9,    /* no action of that name */
  TUL_ERR_SIGNATURE = 10,     /* persistence file signature */
  TUL_ERR_PARSE = 11,         /* value notation parse error */
  TUL_ERR_OPEN = 12,          /* a file cannot be opened */
  TUL_ERR_DEFINITION = 13,    /* a value that is no definition */
  TUL_ERR_OID_FORMAT = 14,    /* OBJECT IDENTIFIER text */
  TUL_ERR_MEMBER_TYPE = 15,   /* a member or element of the wrong type */
  TUL_ERR_MANDATORY = 16,     /* encoding lacks a mandatory member */
  TUL_ERR_DECODE = 17,        /* BER decode error */
  TUL_ERR_EOF = 20,           /* value notation ends early */
  TUL_ERR_ARGUMENT = 21,      /* invalid argument(s) */
  TUL_ERR_BIT_FORMAT = 22     /* BIT STRING text */
} TUL_ErrorCode;

/* Forms the message of `error` ("#NN " and the message) with the arguments
 * and writes it with a line feed to stderr while tracing is on. */
TUL_API void TUL_trace_error(int error, ...);
/* As TUL_trace_error, then returns an error object of type "TUL.ErrorType"
 * in `dtd` whose `error` is the code (the caller frees it); for code 2, and
 * when no error object can be made, the dictionary's allocation-error
 * singleton. Null for a null `dtd`. */
TUL_API TUL_Object* TUL_error(TUL_Metadata* dtd, int error, ...);

/* ========================================================================
 * Behaviour registry, actions and member access
 * ====================================================================== */

/* Replaces slot or action `function_name` of `type`'s table (making a private
 * copy for a derived type first). Returns the previous function, or null
 * when there was none or nothing changed (unknown type: trace 4 twice). */
TUL_API void* TUL_register(TUL_Metadata* dtd, const char* type, const char* function_name,
                           void* function_ptr);
/* The function held under `function_name` in the type's own table, or null. */
TUL_API void* TUL_retrieve_action(TUL_Metadata* dtd, const char* type, const char* function_name);
/* Calls slot or action `function` on `obj`; null when nothing is found
 * (trace 9) or for null arguments. */
TUL_API void* TUL_action_US(char* function, TUL_Object* obj, void* data);
TUL_API void* TUL_action(const char* function, TUL_Object* obj, void* data);

/* New null-terminated array of the member names of a SEQUENCE or SET value,
 * released by the caller with free(); null on failure (trace 7 or 2). */
TUL_API char** TUL_members(TUL_Object* seq);
/* The value in member slot `member` (still owned by `seq`); null when empty;
 * error object 6 for an unknown member (caller frees it). */
TUL_API TUL_Object* TUL_assoc_US(TUL_Object* seq, char* member);
TUL_API TUL_Object* TUL_assoc(TUL_Object* obj, const char* member);
/* Stores `obj` (may be null: empties the slot) in member slot `member`; the
 * slot now owns it. `obj` must be of the member's type itself (a derived
 * type does not pass) unless the member is ANY. Returns the previous value,
 * handed back to the caller (ref_cnt lowered; free it), or null when the
 * slot was empty. On failure the error object of code 6 (no such member) or
 * 15 (another type), which the caller frees; nothing changed and `obj`
 * stays the caller's. Null, with `obj` still the caller's, for a null `seq`
 * or (after trace 7) a value that is no SEQUENCE or SET. */
TUL_API TUL_Object* TUL_assign_US(TUL_Object* seq, char* member, TUL_Object* obj);
TUL_API TUL_Object* TUL_assign(TUL_Object* seq, const char* member, TUL_Object* obj);

/* ========================================================================
 * Value accessors: the stored value itself; neutral result (and trace 7) on
 * a value of the wrong basic type.
 * ====================================================================== */

TUL_API int TUL_read_bool(TUL_Object* obj);
TUL_API long TUL_read_int(TUL_Object* obj);
TUL_API long TUL_read_enum(TUL_Object* obj);
/* Extension: the 64-bit value of an INTEGER or ENUMERATED value (its low 32
 * bits, sign-extended, with wide integers off); 0 and trace 7 otherwise. */
TUL_API int64_t TUL_read_int64(TUL_Object* obj);
/* Extension: a new INTEGER- or ENUMERATED-based value of `type` holding
 * `value`. With wide integers off a value outside the 32-bit range gives
 * error 21, like any invalid argument; a type of another basic type gives
 * error 7. */
TUL_API TUL_Object* TUL_new_int64(const char* type, TUL_Metadata* dtd, int64_t value);
/* The octets of a string value (any string type, BER-String, ANY), owned
 * by the value; TUL_size(obj) of them, followed by a NUL that is not
 * counted. Also the message of an error object. */
TUL_API char* TUL_read_str(TUL_Object* obj);
/* Hands the bytes over to the caller (free() them); the value is left empty. */
TUL_API char* TUL_consume_str(TUL_Object* obj);
TUL_API double TUL_read_real(TUL_Object* obj);
/* Arc array of an OBJECT IDENTIFIER value; its count is TUL_size(obj). */
TUL_API int32_t* TUL_read_oid(TUL_Object* obj);

/* ========================================================================
 * Options and versions
 * ====================================================================== */

enum {
    TUL_OPTION_OID_AS_LABEL = 0,
    TUL_OPTION_OID_ANNOTATED = 1,
    TUL_OPTION_TRACE_ERROR = 2,
    TUL_OPTION_BER_ANNOTATED = 3
};

/* Sets option `topic` (0..3); another topic traces 21 and changes nothing. */
TUL_API void TUL_set_option(int topic, int activate);
/* The option's value; 0 (and trace 21) for another topic. */
TUL_API int TUL_get_option(int topic);
/* Extension, off by default: with `on` non-zero, a SEQUENCE or SET member or
 * a CHOICE alternative declared plain ANY decodes as the type its element's
 * tag names (INTEGER, Counter, OBJECT IDENTIFIER, ...). An element whose tag
 * names no type, or that does not decode as that type (a Counter beyond the
 * 32-bit INTEGER range), stays a whole ANY value, as with the switch off,
 * and nothing is reported. Process-wide, like the options. */
TUL_API void TUL_set_typed_any(int on);

/* Extension, off by default: with `on` non-zero, INTEGER and ENUMERATED
 * values are 64-bit. Contents of up to 8 octets decode (9 or more are still
 * error 17), and values print, parse, encode, compare and read
 * (TUL_read_int, TUL_read_enum, TUL_read_int64) with their full width.
 * Values keep their 64-bit value whenever the switch is turned, but while
 * it is off every function sees only its low 32 bits, exactly as without
 * this extension. Process-wide, like the options; TUL_set_option does not
 * know it. */
TUL_API void TUL_set_wide_integers(int on);
TUL_API int TUL_get_wide_integers(void);
TUL_API char* TUL_library_version(void);
TUL_API char* TUL_format_version(void);

/* ========================================================================
 * Unique strings
 * ====================================================================== */

/* The one stored copy of `string`; null for null or on memory shortage. */
TUL_API char* TUL_unique_string(const char* string);
/* Releases every interned string, and the freed small blocks the library
 * keeps for reuse; call after the last dictionary is freed. */
TUL_API void TUL_free_unique_strings(void);

/* ========================================================================
 * Dictionary life and definitions
 * ====================================================================== */

/* A new dictionary with the built-in types and the meta-schema; null on
 * memory shortage. */
TUL_API TUL_Metadata* TUL_new_Metadata(void);
/* Releases the dictionary and all it owns; null does nothing. */
TUL_API void TUL_free_Metadata(TUL_Metadata* dtd);
/* Enters a copy of the raw entry record `def` (any kind; told by
 * entry_type), with a copy of `obj` as its describing value. The first
 * definition of a name or label wins; shortages trace 2. */
TUL_API void _TUL_add_definition(TUL_Metadata* dtd, TUL_Entry* def, TUL_Object* obj);

/* ========================================================================
 * BER encoding and decoding
 * ====================================================================== */

/* (codec section) */

/* Encodes `obj` in BER (definite lengths) and returns a new "BER-String"
 * value holding the octets; the caller frees it with TUL_free. `obj` stays
 * the caller's. On failure: null for a null `obj` (trace 21) or when the
 * result cannot be made (trace 2), else the error object that the failing
 * encode behaviour left (null when it left none). */
TUL_API TUL_Object* TUL_encode(TUL_Object* obj);

/* Decodes the one BER element held by the "BER-String" value `ber` into a
 * new value of type `type` (any text; interned here) in `dtd`; the caller
 * frees the result. Octets after the first element are ignored; `ber` stays
 * the caller's. On failure: the error object of code 4 for an unknown type,
 * of code 17 ("octets are not BER (X.209) encoded") when `ber` holds no
 * well-formed element, the error object that the failing decode behaviour
 * left (null when it left none), and null for a null `ber` or `dtd`. */
TUL_API TUL_Object* TUL_decode(const char* type, TUL_Object* ber, TUL_Metadata* dtd);
/* TUL_decode with `type` already interned (TUL_unique_string). */
TUL_API TUL_Object* TUL_decode_US(char* type, TUL_Object* ber, TUL_Metadata* dtd);
/* How many of the `size` octets at `octets` the first BER element occupies
 * (identifier, length and contents octets, end-of-contents included), read
 * with the decoder's own rules and limits: the octets a decode of them
 * consumes. Frames records that follow each other in one buffer. Reads
 * nothing beyond `size` octets and writes no trace.
 * On failure returns -1 and, when `problem` is not null, points it to a
 * static text saying what is wrong ("contents cut short", ...). */
TUL_API long TUL_ber_length(const void* octets, long size, const char** problem);

/* Extension: where the last failed decode of the calling thread stopped.
 * `path` names the members from the outermost value down to the element
 * that failed: member and alternative names joined by ".", and the position
 * in a SEQUENCE OF or SET OF, counted from 0, in brackets
 * ("data.trap.variable-bindings[3].value"); "" for the outermost value.
 * `offset` is the octet of that element's identifier in the BER-String (-1
 * when it cannot be told), `tag_class` (0 UNIVERSAL, 1 APPLICATION,
 * 2 context-specific, 3 PRIVATE), `tag_number` and `constructed` describe
 * the identifier found there, and `type` names the type it was decoded as
 * (null when the failure lies with the enclosing value: a member's tag that
 * does not belong there). The error object and its message are those the
 * decode returns without this record. */
typedef struct TUL_DecodeFailure {
    const char* path;
    long offset;
    int tag_class;
    int tag_number;
    int constructed;
    const char* type;
} TUL_DecodeFailure;

/* The record of the calling thread's last TUL_decode that failed after
 * reading the BER-String's elements; null when there was none, or when the
 * last failure came before any element (octets that are not BER, an unknown
 * type). Valid until the thread's next failed decode; successful decodes
 * leave it as it is and record nothing. */
TUL_API const TUL_DecodeFailure* TUL_last_decode_failure(void);

/* ========================================================================
 * Value notation: parsing and printing
 * ====================================================================== */

/* (value-notation section) */

/* Reads one typed value ("TypeName Value") from `stream` against `dtd`.
 * `line` (may be null) gives the first line number (1 when null) and
 * receives the line where reading stopped, so successive calls on one stream
 * read successive values with correct line numbers. The one character read
 * after the value is consumed. Returns the new value (owned by the caller,
 * ref_cnt 0). On failure the error object (code 11 with the message, line
 * and last token, code 20 at end of input, code 4 for an unknown type),
 * which the caller frees with TUL_free; null (and trace 21) when `dtd` or
 * `stream` is null. */
TUL_API TUL_Object* TUL_parse(TUL_Metadata* dtd, FILE* stream, int* line);

/* As TUL_parse, from the NUL-terminated text `value`, starting at line 1;
 * text after the value is ignored. On failure the error object as for
 * TUL_parse; null (and trace 21) for null arguments. */
TUL_API TUL_Object* TUL_parse_str(TUL_Metadata* dtd, const char* value);

/* Parses `value`, a value without type name, into the existing `obj` with
 * `obj`'s own type and dictionary. Returns `obj`. On failure the error
 * object (the caller frees it, and still owns `obj`, which keeps whatever
 * the parse had set); null for a null `obj`, or (with trace 21) a null
 * `value`. */
TUL_API TUL_Object* TUL_parse_value(TUL_Object* obj, const char* value);

/* Writes the typed value (type name, blank, value) and a newline to
 * `stream`. Does nothing when either argument is null. */
TUL_API void TUL_print(TUL_Object* obj, FILE* stream);

/* Returns a new NUL-terminated text holding the typed value, without a final
 * newline; an empty text for a null `obj`. The caller frees it with free().
 * On memory shortage null. */
TUL_API char* TUL_print2str(TUL_Object* obj);

/* Returns a new text holding the value alone (no type name) as printed at
 * nesting `level`, which shifts the indentation of its inner lines; an
 * empty text for a null `obj`. The caller frees it with free(). On memory
 * shortage null. */
TUL_API char* TUL_print_value(TUL_Object* obj, int level);

/* Extension: the value as one line of JSON, {"type": NAME, "value": V}, with
 * V by basic type: SEQUENCE and SET an object keyed by member names (absent
 * members left out), SEQUENCE OF and SET OF an array, CHOICE an object with
 * the alternative's name as its one key, INTEGER, REAL and BOOLEAN numbers
 * and true/false (REAL infinities and NaN as the strings "PLUS-INFINITY",
 * "MINUS-INFINITY", "NOT-A-NUMBER"), NULL null, ENUMERATED its name (the
 * number when it has none), OBJECT IDENTIFIER a dotted string (with
 * TUL_OPTION_OID_AS_LABEL and a registered template {"oid": ..., "label":
 * ...}), BIT STRING a string of 0 and 1, OCTET STRING its text when every
 * octet is printable ASCII and else {"hex": "..."}, character strings their
 * text, BER-String and ANY {"hex": "...", "tag": "CLASS number"}. Bytes
 * that are no UTF-8 become U+FFFD, so the line is valid UTF-8 JSON.
 * TUL_print_json writes it and a newline to `stream` (1, or 0 when nothing
 * or not all was written); TUL_print_json_string returns it without newline
 * for the caller to free(), or null for an error object or on shortage. */
TUL_API int TUL_print_json(TUL_Object* obj, FILE* stream);
TUL_API char* TUL_print_json_string(TUL_Object* obj);

/* For print behaviours registered by applications: writes the indentation of
 * ctx's level when `indent` is non-zero, then `str`, through the context's
 * output functions. Nothing for a null `ctx`; a null `str` writes only the
 * indentation. */
TUL_API void TUL_print2ctx(const char* str, TULP_PrintContext* ctx, int indent);

/* ========================================================================
 * Primitive types: text conversions
 * ====================================================================== */

/* (primitive-types section) */

/* Sets the BIT STRING value `obj` from `string`, one bit per character: "1"
 * gives a 1 bit, any other character a 0 bit. The text stays the caller's.
 * Returns `obj`, or an error object after `obj` has been freed (as
 * TUL_init). On failure: null for null arguments, and null with a trace
 * line (code 7) for a value that is no BIT STRING or (code 22) for a text
 * of more than 40959 characters, the value unchanged. */
TUL_API TUL_Object* TUL_string2bit(TUL_Object* obj, const char* string);

/* The bits of the BIT STRING value `obj` as "0" and "1" characters, first
 * bit first. The text belongs to the value (kept until it is freed or
 * initialised again). On failure: null for null, null with a trace line for
 * a value that is no BIT STRING (code 7) or on memory shortage (code 2). */
TUL_API char* TUL_bit2string(TUL_Object* obj);

/* Sets the OBJECT IDENTIFIER value `obj` from decimal arcs separated by
 * white space ("1 3 6 1"); reading stops at the first character that starts
 * no number. The text stays the caller's. Returns the result of TUL_init:
 * `obj`, or an error object after `obj` has been freed (code 14 when the
 * first arc is not 0, 1 or 2). On failure: null, with a trace line for a
 * value that is no OBJECT IDENTIFIER (code 7), an arc outside the 32-bit
 * range (code 14), 128 or more arcs (code 5) or fewer than 2 (code 14). */
TUL_API TUL_Object* TUL_string2oid(TUL_Object* obj, const char* string);

/* The arcs of the OBJECT IDENTIFIER value `obj` as decimal numbers
 * separated by single blanks ("1 3 6 1"). The text belongs to the value.
 * A value without arcs, or (with trace code 5) with more than 128, gives an
 * empty text. On failure: null for null, null with a trace line for a value
 * that is no OBJECT IDENTIFIER (code 7) or on memory shortage (code 2). */
TUL_API char* TUL_oid2string(TUL_Object* obj);

/* ========================================================================
 * Constructed types: lists and CHOICE
 * ====================================================================== */

/* (constructed-types section) */

/* The list operations work on SEQUENCE OF and SET OF values. A list owns its
 * elements: adding adopts the object itself (its ref_cnt goes up, no copy is
 * made), taking one out hands it back with ref_cnt lowered, for the caller
 * to TUL_free; TUL_at and TUL_search only lend. An element must be of the
 * list's element type itself (a derived type does not pass) unless that is
 * ANY or ANY DEFINED BY. Indexes are 0-based. A null list, element or
 * function gives the neutral result silently; a value that is not a list
 * gives it after trace 7. */

/* Called with each element and the caller's data; its result is ignored. */
typedef TUL_ActionFunction TUL_ForEachFunction;
/* Non-zero when `element` is the one looked for. */
typedef int (*TUL_MatchFunction)(TUL_Object* element, void* key);
/* qsort comparison: receives two pointers to element pointers (TUL_Object**). */
typedef int (*TUL_CompareFunction)(const void* a, const void* b);

/* Adopts `obj` at the end of `list`. Returns `list`. On failure: the error
 * object of code 15 (element type) or 2 (memory), list unchanged and `obj`
 * still the caller's; null for null arguments or a non-list. */
TUL_API TUL_Object* TUL_append(TUL_Object* list, TUL_Object* obj);
/* Adopts `obj` at index `i` (0 .. size; size appends). Returns `list`. On
 * failure: a wrong element type traces 15 and returns `list` unchanged; an
 * index out of range or memory shortage returns the error object of code 2;
 * `obj` then stays the caller's. */
TUL_API TUL_Object* TUL_insert_at(TUL_Object* list, long i, TUL_Object* obj);
/* Adopts `obj` at index `i` and hands back the element it replaces (ref_cnt
 * lowered; the caller frees it). On failure null, after trace 15 (element
 * type) or 8 (index), with `obj` still the caller's. */
TUL_API TUL_Object* TUL_replace_at(TUL_Object* list, long i, TUL_Object* obj);
/* Takes the element at index `i` out and hands it back (ref_cnt lowered; the
 * caller frees it). On failure (index out of range) null after trace 8. */
TUL_API TUL_Object* TUL_remove_at(TUL_Object* list, long i);
/* Takes the first occurrence of exactly `obj` out of `list` and lowers its
 * ref_cnt without freeing it. An object not in the list changes nothing. */
TUL_API void TUL_remove(TUL_Object* list, TUL_Object* obj);
/* The element at index `i`, lent (still owned by the list). On failure the
 * error object of code 8 (the caller frees it). */
TUL_API TUL_Object* TUL_at(TUL_Object* list, long i);
/* Index of the first occurrence of exactly `obj`, -1 when absent. 0 for null
 * arguments or a non-list. */
TUL_API long TUL_index_of(TUL_Object* list, TUL_Object* obj);
/* 1 when the list holds exactly `obj`, else 0. */
TUL_API int TUL_is_element(TUL_Object* list, TUL_Object* obj);
/* Calls `action(element, data)` for every element in order. */
TUL_API void TUL_for_each(TUL_Object* list, TUL_ForEachFunction action, void* data);
/* The first element, lent, for which `match(element, key)` is non-zero; null
 * when there is none. */
TUL_API TUL_Object* TUL_search(TUL_Object* list, TUL_MatchFunction match, void* key);
/* Sorts the elements in place with qsort and `compare`. */
TUL_API void TUL_sort(TUL_Object* list, TUL_CompareFunction compare);
/* A new list of the same type holding copies of the elements for which
 * `match(element, data)` is non-zero, in order; the caller owns it and the
 * source is unchanged. On failure null (trace 2 on memory shortage). */
TUL_API TUL_Object* TUL_filter(TUL_Object* list, TUL_MatchFunction match, void* data);

/* The chosen value of a CHOICE value, lent (the dictionary's "not
 * initialized" object while nothing is chosen). On failure null: silently
 * for null, after trace 7 for a value that is not a CHOICE. */
TUL_API TUL_Object* TUL_read_choice(TUL_Object* obj);
/* The interned name of the chosen alternative ("???" while nothing is
 * chosen), owned by the library. On failure null, as TUL_read_choice. */
TUL_API char* TUL_member_name(TUL_Object* obj);

/* ========================================================================
 * Meta-schema, templates and type information
 * ====================================================================== */

/* (meta-schema section) */

/* The template entry (any kind) whose label is `label`; builds the label and
 * registration indexes on first use. Null when there is none or for null
 * arguments. The entry stays the dictionary's. */
TUL_API TUL_Entry* _TUL_templateByName(TUL_Metadata* dtd, const char* label);

/* Enters the definitions described by the meta-schema value `obj` (a
 * "TUL.Asn1", one of the nine template types, or a "TUL.Metadata" holding
 * many). Returns `obj` (also for an ignored duplicate); `obj` stays the
 * caller's. On failure: the error object of code 13 for a value that is no
 * definition (caller frees it); null for a null `md`. */
TUL_API TUL_Object* TUL_add_definition(TUL_Metadata* md, TUL_Object* obj);
/* Parses each text of the null-terminated array `str` (one typed meta-schema
 * value each) and enters it; the texts are only read. Returns 0, or the
 * error code of the first text that did not parse; the texts before it
 * stay entered. For a file of such values, see TUL_load_definitions_file. */
TUL_API int TUL_load_Metadata_string(TUL_Metadata* md, char** str);

/* The describing meta-schema value of the template with `label` (any kind)
 * or registration `oid`; owned by the dictionary, do not free. Null when
 * there is none. Both build the lookup indexes once, on first use. */
TUL_API TUL_Object* TUL_templateByName(TUL_Metadata* dtd, const char* label);
TUL_API TUL_Object* TUL_templateByRegistration(TUL_Metadata* dtd, TUL_Object* oid);

typedef void (*TUL_ObjectCallback)(TUL_Object* value, void* data);
typedef void (*TUL_EntryCallback)(TUL_Entry* entry, void* data);

/* Call `action` with the describing value of every entry of one table (the
 * value stays the dictionary's); nothing for a null dictionary or action.
 * Types without a base (the built-in roots) are skipped. */
TUL_API void TUL_for_each_asn1_def(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_attribute(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_notification(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_parameter(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_action(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_moc(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_package(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_name_binding(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_attribute_group(TUL_Metadata* md, TUL_ObjectCallback action, void* data);
TUL_API void TUL_for_each_behavior(TUL_Metadata* md, TUL_ObjectCallback action, void* data);

/* Number of entries of one table; 0 for null. */
TUL_API int TUL_number_asn1_def(TUL_Metadata* md);
TUL_API int TUL_number_attributes(TUL_Metadata* md);
TUL_API int TUL_number_notifications(TUL_Metadata* md);
TUL_API int TUL_number_parameters(TUL_Metadata* md);
TUL_API int TUL_number_actions(TUL_Metadata* md);
TUL_API int TUL_number_mocs(TUL_Metadata* md);
TUL_API int TUL_number_packages(TUL_Metadata* md);
TUL_API int TUL_number_name_bindings(TUL_Metadata* md);
TUL_API int TUL_number_attribute_groups(TUL_Metadata* md);
TUL_API int TUL_number_behaviors(TUL_Metadata* md);

/* The "TUL.Asn1" value describing the value's type (with `final` non-zero:
 * the type that holds its member list), owned by the dictionary. Null for
 * null, and for the built-in roots, which describe nothing. */
TUL_API TUL_Object* TUL_object_info(TUL_Object* obj, int final);
/* The same for a type by name; null (and trace 4) for an unknown type. */
TUL_API TUL_Object* TUL_asn1_info_US(TUL_Metadata* dtd, char* type, int final);
TUL_API TUL_Object* TUL_asn1_info(TUL_Metadata* dtd, const char* type, int final);
/* Basic-type bit of the type's table (after inheritance); 0 when unknown
 * (trace 4) or without a table. */
TUL_API int TUL_asn1_basic_type_US(TUL_Metadata* dtd, char* type);
TUL_API int TUL_asn1_basic_type(TUL_Metadata* dtd, const char* type);

/* ========================================================================
 * Persistence files, listing and source generator
 * ====================================================================== */

/* Writes the dictionary's types and templates (not behaviour templates) to
 * the persistence file `filename` in the current text format, together with
 * every unique string of the process. A regular file is replaced only once
 * it is completely written. Returns 0. On failure: 21 for null arguments,
 * 12 when the file cannot be created or written, 5 when an entry holds a
 * string the format cannot carry (a line feed, or more than 511
 * characters); the error is traced and a file that stood there is kept. */
TUL_API int TUL_store_Metadata(TUL_Metadata* dtd, const char* filename);

/* Enters the definitions of the persistence file `location` (either format,
 * told by its signature, whatever the file's name) or of every file of the
 * directory `location` whose name ends in ".per" or ".dtd" (not its
 * subdirectories), then builds the lookup indexes. The first definition of a
 * name wins. Returns 0, also when single files could not be read: those
 * faults are traced (12 a file that cannot be read, 10 a signature not
 * recognised or a damaged file, 2 memory) and the file's records before the
 * fault stay entered. On failure: 21 for null arguments, 12 when `location`
 * does not exist or the directory cannot be opened. */
TUL_API int TUL_load_Metadata(TUL_Metadata* dtd, const char* location);

/* Extension: as TUL_load_Metadata, but returns the code of the first file
 * fault as well, and stores in `line` (when not null) the line of a
 * current-format file at which that fault was found (0 when none applies). */
TUL_API int TUL_load_Metadata_status(TUL_Metadata* dtd, const char* location, int* line);

/* Extension: enters the definitions file `path`, a text of typed meta-schema
 * values ("TUL.Asn1 { name 'Counter', type 'INTEGER' }", the nine template
 * types, "TUL.Metadata") separated by white space and "--" comments, read
 * value after value. Every message goes to `report` (standard error when
 * null) as "PATH:LINE: text", LINE being the line of the offending token;
 * the library's own error trace is off meanwhile. A definition of a name or
 * label already defined is ignored (the first one stays) with a warning.
 * After the whole file, each reference of its definitions to a type the
 * dictionary lacks is reported as a warning on the line of the definition
 * that makes it: load files that refer to one another in the order of their
 * needs. Warnings do not fail the load. Returns 0. On failure, the
 * definitions before the fault stay entered and the code is returned: 21
 * for null `md` or `path` (traced, nothing written to `report`), 12 when
 * the file cannot be opened or read, 11 for a parse error or a NUL byte, 20
 * for a file that ends inside a value, 4 for an unknown type name, 13 for a
 * value that is no definition or a definition that cannot be used, 2 on
 * memory shortage. */
TUL_API int TUL_load_definitions_file(TUL_Metadata* md, const char* path, FILE* report);

/* Lists the dictionary on standard output: the version texts, then every
 * type and template (behaviour templates apart), table by table. */
TUL_API void TUL_print_Metadata(TUL_Metadata* dtd);

/* Extension: the reference check on `stream` (standard output when null):
 * each reference to a type that the dictionary lacks, and each notification
 * item naming no attribute with a syntax, is reported with the block of the
 * entry holding it. Returns the number of unresolved references; 0 for a
 * null dictionary. */
TUL_API long TUL_check_Metadata(TUL_Metadata* dtd, FILE* stream);

/* Writes the C header "<name>.h" that declares `static const char* name[]`
 * holding the value-notation text of every definition of the dictionary
 * (types before templates) and a null entry, for TUL_load_Metadata_string.
 * Types whose module prefix (the name up to its last ".") equals a string of
 * the null-terminated `ignore_list` (may be null) are left out. Returns 0;
 * 12 (traced) when the file cannot be created, 21 for a null `md` or
 * `name`. */
TUL_API int TUL_generate_Metadata_string(TUL_Metadata* md, const char* name, char** ignore_list);

/* ========================================================================
 * Event record translation
 * ====================================================================== */

/* Decodes the report in `ber` (a value holding BER octets, as TUL_decode
 * takes it) and translates it into a new "AttributeList" value owned by the
 * caller. `type` selects input and variant: "EventReportArgument",
 * "zrEventLogRecord" (adds the whole event information as one attribute),
 * "zrCMISLogRecord" (adds the event data and gathers the information fields
 * in a nested attribute list) or "Trap-PDU". The dictionary must define
 * those types and "Attribute", "AttributeId" and "ZREventData". `ber` stays
 * the caller's. On failure (missing or unknown `type`, missing `ber`, a
 * report that does not decode, no memory for the result): null; only the
 * decoder reports. */
TUL_API TUL_Object* TUL_translate(char* type, TUL_Object* ber, TUL_Metadata* md);
/* The event translation; `type` is compared by identity with the interned
 * "zrEventLogRecord" and "zrCMISLogRecord", anything else gives the plain
 * variant. Result and failures as TUL_translate. */
TUL_API TUL_Object* TUL_translate_event(char* type, TUL_Object* ber, TUL_Metadata* md);
/* The SNMPv1 trap translation. Result and failures as TUL_translate. */
TUL_API TUL_Object* TUL_translate_trap(TUL_Object* ber, TUL_Metadata* md);

/* ========================================================================
 * CMIS filter evaluation
 * ====================================================================== */

/* Behaviours and actions for the application's filter types; the library
 * binds them to no type. Register the three evaluate functions under
 * "evaluate" for the CMISFilter, FilterItem and substring-alternative types
 * (CHOICEs with the alternatives item/and/or/not, equality/substrings/
 * greaterOrEqual/lessOrEqual/present/subsetOf/supersetOf/
 * nonNullSetIntersection and initialString/anyString/finalString), and the
 * two check functions under "check" for the CMISFilter and FilterItem types.
 * `attrList` is a SEQUENCE OF or SET OF attribute SEQUENCEs (identifier,
 * value); its `specific` field receives the innermost "and" set, which the
 * application's "frequency" action (called for EventsPerWindow items with
 * that field as data) may read. Results are truth values as pointers: 1 or
 * 0 (an "or" passes on the first non-zero result). On failure nothing is
 * reported: an unknown alternative, a missing attribute, values that cannot
 * be compared, a null `attrList` or filters nested too deeply give 0. */
TUL_API void* TUL_CMISFilter_evaluate(TUL_Object* obj, void* attrList);
TUL_API void* TUL_FilterItem_evaluate(TUL_Object* obj, void* attrList);
TUL_API void* TUL_SubstringsChoice_evaluate(TUL_Object* obj, void* attrList);
/* 1 when every item of the filter passes its "check" action; else 0. */
TUL_API void* TUL_CMISFilter_check(TUL_Object* obj, void* data);
/* 1 when the item's values have types the evaluation can order or compare
 * as the alternative needs; else 0. `data` is not used. */
TUL_API void* TUL_FilterItem_check(TUL_Object* obj, void* data);

/* ========================================================================
 * HTML documentation
 * ====================================================================== */

/* Writes static pages documenting `dtd` into `directory`: overview.html
 * (entry counts), asn1types.html (the types that have a base type, sorted
 * by name), one page per template kind (notifications.html,
 * attributes.html, parameters.html, actions.html, mocs.html, packages.html,
 * namebindings.html, attributegroups.html, behaviors.html) and the marker
 * image reddot.gif. The directory itself is created when missing (its
 * parent must exist); files of these names are overwritten, others are left
 * alone. Names are written as they are, except that the characters <, & and
 * " become character references. Returns 0. Not reentrant. On failure: 21
 * (with a trace line) for a null `dtd` or `directory`.
 * On a file error this function does NOT return: it writes
 * "TUL: no permission to create local directory", "TUL: file open error
 * (access rights ?)" or, for the image, "file open error for result files
 * (access rights ?)" to stderr and ENDS THE PROCESS with exit status 1.
 * Check that the directory can be created and written first where that is
 * unwanted. */
TUL_API int TUL_generate_HTML(TUL_Metadata* dtd, const char* directory);

/* Writes value.html into `directory`: whether `obj` encodes in BER (and the
 * octet count) and whether that encoding decodes again, then the value in
 * value notation with each member name linked to its type's definition and
 * a reddot.gif marker before a missing mandatory member or an open type
 * that cannot be resolved. Then writes the dictionary pages of the value's
 * dictionary as TUL_generate_HTML does and returns its result. In the
 * printed value the characters < and & become character references. The
 * value stays the caller's. On failure: 0 without writing anything for a
 * null `obj`, 21 (with a trace line) for a null `directory`. While the page is written the
 * print behaviours of SEQUENCE, SET and CHOICE of the value's dictionary
 * are replaced; they are put back before the function returns. File errors
 * END THE PROCESS as for TUL_generate_HTML. */
TUL_API int TUL_print_HTML(TUL_Object* obj, const char* directory);

/* ---- Importing ASN.1 modules ------------------------------------------ */

/* Severity of an import diagnostic. */
enum { TUL_IMPORT_WARNING = 0, TUL_IMPORT_ERROR = 1 };

/* Flags of an import: check only (parse and resolve, enter nothing), and
 * read Unicode dashes (U+2010..U+2015) as '-' with a warning instead of
 * rejecting them. */
enum { TUL_IMPORT_CHECK = 1, TUL_IMPORT_DASHES = 2 };

typedef struct TUL_ImportDiagnostic {
    int severity;     /* TUL_IMPORT_WARNING or TUL_IMPORT_ERROR */
    char* file;       /* file name, or the name given to a text */
    int line;         /* 1-based; 0 when the message concerns no place */
    int column;       /* 1-based byte column; 0 when unknown */
    char* item;       /* the assignment (or module) concerned; "" for none */
    char* message;
} TUL_ImportDiagnostic;

typedef struct TUL_ImportResult {
    int types_entered;   /* definitions entered, synthesized ones included */
    int items_skipped;   /* values, macros, classes, objects, duplicates */
    int values_kept;     /* OBJECT IDENTIFIER and INTEGER values evaluated */
    int errors;
    int warnings;
    int diagnostic_count;
    TUL_ImportDiagnostic* diagnostics; /* in the order they arose */
    int templates_entered[9]; /* GDMO and SNMP templates, by entry_type - 1 */
} TUL_ImportResult;

/* Imports the ASN.1 modules of `count` files as one batch into `md`: parses
 * them all, resolves names across the batch and the types `md` already
 * holds, and enters every type assignment through TUL_add_definition, as the
 * equivalent "TUL.Asn1" values would. Inline types get names of the form
 * Outer.member (Outer.item for an OF element). A rejected assignment is
 * reported and the rest of the batch imported. Files may also hold GDMO
 * templates and SNMP MIB modules: their templates are entered after all
 * types of the batch, as the equivalent template values would be (an SNMP
 * object becomes an attribute, a notification or trap a notification, a
 * scalar also gets an attribute "label.0" for its instance), and when any
 * template was entered the batch ends by building the registration index. The result belongs to the
 * caller, who releases it with TUL_free_import_result. On failure (null
 * `md` or out of memory) returns null. */
TUL_API TUL_ImportResult* TUL_import_files(TUL_Metadata* md, const char* const* paths, int count, int flags);
/* The same for one module text held in memory (`size` bytes, which may hold
 * any byte); `name` stands for the file in diagnostics (null: "<string>"). */
TUL_API TUL_ImportResult* TUL_import_string(TUL_Metadata* md, const char* name, const char* text, size_t size,
                                            int flags);
/* Releases an import result; null is ignored. */
TUL_API void TUL_free_import_result(TUL_ImportResult* result);

#ifdef __cplusplus
}
#endif

#endif /* TUL_H */
