/* tul.hpp - C++20 interface over tul.h, header-only.
 *
 * Owning handles that free what they hold, lent views into containers,
 * std::string_view and std::span inputs, and failures thrown as tul::Error
 * carrying the library's code and message. Exceptions are thrown only in
 * this header, never through the C API: callbacks handed to the C API must
 * not throw.
 *
 *   tul::Dictionary md;
 *   md.load_definitions("snmpv1.defs");
 *   tul::Value v = md.parse("INTEGER 5");
 *   std::vector<std::uint8_t> ber = v.encode_octets();
 *   std::cout << md.decode("INTEGER", ber).print() << '\n';
 *
 * Call TUL_free_unique_strings() once every dictionary is gone.
 */
#ifndef TUL_HPP
#define TUL_HPP

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tul.h"

namespace tul {

/* A failure of the library: `code()` is a TUL_ERR_* code, `what()` the
 * library's message ("#11 parse error: ..."). */
class Error : public std::runtime_error {
 public:
  Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

class Value;

namespace detail {

inline bool is_error(const TUL_Object* obj) { return !obj || obj->error != 0; }

/* Throws the error object `error` (freeing it first), or, for null, `code`
 * with `what` as the message. */
[[noreturn]] inline void raise(TUL_Object* error, int code, const char* what) {
  if (!error) throw Error(code, std::string("tul: ") + what);
  const char* text = TUL_read_str(error);
  Error failure(error->error, text ? text : what);
  TUL_free(error);
  throw failure;
}

/* Takes a malloc'd text from the library. */
inline std::string take_text(char* text) {
  if (!text) throw Error(TUL_ERR_MEMORY, "tul: memory allocation error");
  std::string copy(text);
  std::free(text);
  return copy;
}

/* A NUL-terminated copy, for C functions that read texts. */
inline std::string c_text(std::string_view text) { return std::string(text); }

inline int c_length(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw Error(TUL_ERR_ARGUMENT, "tul: text or octets too long");
  return static_cast<int>(size);
}

}  // namespace detail

/* A value lent by its owner (a container, a dictionary, or an owning
 * Value): valid while the owner holds it; never freed through the view. */
class ValueRef {
 public:
  ValueRef() = default;
  explicit ValueRef(TUL_Object* obj) noexcept : obj_(obj) {}

  TUL_Object* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

  std::string_view type() const { return TUL_object_type(checked()); }
  int basic_type() const { return TUL_object_basic_type(checked()); }
  /* The type's own measure: octets of a string, elements of a list, arcs. */
  long size() const { return TUL_size(checked()); }

  bool as_bool() const { return TUL_read_bool(require(TUL_BOOLEAN_TYPE, "as_bool")); }
  long as_int() const {
    TUL_Object* obj = require(TUL_INTEGER_TYPE | TUL_ENUMERATED_TYPE, "as_int");
    return basic_type() == TUL_ENUMERATED_TYPE ? TUL_read_enum(obj) : TUL_read_int(obj);
  }
  double as_real() const { return TUL_read_real(require(TUL_REAL_TYPE, "as_real")); }
  /* The octets of an OCTET STRING value (any string type, BER-String). */
  std::string_view as_text() const {
    TUL_Object* obj = require(TUL_OCTETSTRING_TYPE, "as_text");
    const char* octets = TUL_read_str(obj);
    return octets ? std::string_view(octets, static_cast<std::size_t>(TUL_size(obj))) : std::string_view();
  }
  std::span<const std::uint8_t> as_octets() const {
    const std::string_view text = as_text();
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
  }
  std::span<const std::int32_t> as_oid() const {
    TUL_Object* obj = require(TUL_OID_TYPE, "as_oid");
    const std::int32_t* arcs = TUL_read_oid(obj);
    return arcs ? std::span<const std::int32_t>(arcs, static_cast<std::size_t>(TUL_size(obj)))
                : std::span<const std::int32_t>();
  }
  /* The bits of a BIT STRING value as "0" and "1". */
  std::string as_bits() const {
    const char* bits = TUL_bit2string(require(TUL_BITSTRING_TYPE, "as_bits"));
    if (!bits) throw Error(TUL_ERR_MEMORY, "tul: memory allocation error");
    return bits;
  }

  /* Member `name` of a SEQUENCE or SET value; an empty view when the slot
   * is empty. Throws for a member the type lacks. */
  ValueRef operator[](std::string_view name) const {
    TUL_Object* seq = require(TUL_SEQUENCE_TYPE | TUL_SET_TYPE, "member");
    TUL_Object* found = TUL_assoc(seq, detail::c_text(name).c_str());
    if (found && found->error) detail::raise(found, TUL_ERR_NO_FIELD, "no such member");
    return ValueRef(found);
  }
  std::vector<std::string> members() const {
    char** names = TUL_members(require(TUL_SEQUENCE_TYPE | TUL_SET_TYPE, "members"));
    if (!names) throw Error(TUL_ERR_MEMORY, "tul: memory allocation error");
    std::vector<std::string> result;
    for (char** name = names; *name; ++name) result.emplace_back(*name);
    std::free(names);
    return result;
  }
  /* The chosen alternative of a CHOICE value and its name. */
  ValueRef chosen() const { return ValueRef(TUL_read_choice(require(TUL_CHOICE_TYPE, "chosen"))); }
  std::string_view chosen_name() const { return TUL_member_name(require(TUL_CHOICE_TYPE, "chosen_name")); }

  /* Element `i` of a SEQUENCE OF or SET OF value. */
  ValueRef at(long i) const {
    TUL_Object* element = TUL_at(require(kListTypes, "at"), i);
    if (detail::is_error(element)) detail::raise(element, TUL_ERR_INDEX, "index out of range");
    return ValueRef(element);
  }

  /* Iteration over the elements of a SEQUENCE OF or SET OF value. */
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ValueRef;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ValueRef;
    iterator() = default;
    iterator(TUL_Object* list, long index) : list_(list), index_(index) {}
    ValueRef operator*() const { return ValueRef(TUL_at(list_, index_)); }
    iterator& operator++() {
      ++index_;
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const iterator& other) const = default;

   private:
    TUL_Object* list_ = nullptr;
    long index_ = 0;
  };
  iterator begin() const { return iterator(require(kListTypes, "begin"), 0); }
  iterator end() const {
    TUL_Object* list = require(kListTypes, "end");
    return iterator(list, TUL_size(list));
  }

  Value copy() const;
  /* The BER encoding, as a BER-String value or as octets. */
  Value encode() const;
  std::vector<std::uint8_t> encode_octets() const;
  /* "Type value", as TUL_print writes it (without the newline). */
  std::string print() const { return detail::take_text(TUL_print2str(checked())); }
  /* The value alone, indented for nesting `level`. */
  std::string print_value(int level = 0) const { return detail::take_text(TUL_print_value(checked(), level)); }

  friend bool operator==(const ValueRef& a, const ValueRef& b) {
    return a.obj_ == b.obj_ || (a.obj_ && b.obj_ && TUL_equal(a.obj_, b.obj_) != 0);
  }

 protected:
  static constexpr int kListTypes = TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE;

  TUL_Object* checked() const {
    if (!obj_) throw Error(TUL_ERR_ARGUMENT, "tul: empty value handle");
    return obj_;
  }
  /* The value, when its basic type is one of `mask`. */
  TUL_Object* require(int mask, const char* function) const {
    TUL_Object* obj = checked();
    if (!(TUL_object_basic_type(obj) & mask))
      throw Error(TUL_ERR_INCOMPATIBLE,
                  std::string("tul: a value of type '") + TUL_object_type(obj) + "' has no " + function);
    return obj;
  }

  TUL_Object* obj_ = nullptr;
};

/* An owned value: move-only, released with TUL_free when the handle goes.
 * Putting it into a container (set, append, insert, a choice) moves it in:
 * the container owns it from then on and the handle is empty. A moved-from
 * handle is empty; destroying it does nothing. */
class Value : public ValueRef {
 public:
  Value() = default;
  /* Adopts `obj`, which the caller owned (a value held by a container is
   * left alone by TUL_free, so adopting a lent one is harmless). */
  explicit Value(TUL_Object* obj) noexcept : ValueRef(obj) {}
  /* Adopts the result of a C call: throws (and frees) an error object. */
  static Value from_result(TUL_Object* result, const char* what) {
    if (detail::is_error(result)) detail::raise(result, TUL_ERR_ARGUMENT, what);
    return Value(result);
  }
  ~Value() { TUL_free(obj_); }
  Value(Value&& other) noexcept : ValueRef(std::exchange(other.obj_, nullptr)) {}
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      TUL_free(obj_);
      obj_ = std::exchange(other.obj_, nullptr);
    }
    return *this;
  }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  /* Gives the value up to the caller, who frees it. */
  TUL_Object* release() noexcept { return std::exchange(obj_, nullptr); }

  /* Stores `member` in slot `name` of this SEQUENCE or SET; returns the
   * value it replaces (empty when the slot was empty). On failure (no such
   * member, a value of another type) throws and `member` stays the
   * caller's. */
  Value set(std::string_view name, Value&& member) {
    TUL_Object* seq = require(TUL_SEQUENCE_TYPE | TUL_SET_TYPE, "set");
    TUL_Object* previous = TUL_assign(seq, detail::c_text(name).c_str(), member.checked_value());
    if (previous && previous->error) detail::raise(previous, TUL_ERR_MEMBER_TYPE, "set");
    member.release();
    return Value(previous);
  }
  /* Empties slot `name`; returns what it held. */
  Value clear(std::string_view name) {
    TUL_Object* seq = require(TUL_SEQUENCE_TYPE | TUL_SET_TYPE, "clear");
    TUL_Object* previous = TUL_assign(seq, detail::c_text(name).c_str(), nullptr);
    if (previous && previous->error) detail::raise(previous, TUL_ERR_NO_FIELD, "clear");
    return Value(previous);
  }
  /* Adds `element` at the end of (or at index `i` of) this SEQUENCE OF or
   * SET OF. On failure throws and `element` stays the caller's. */
  void append(Value&& element) {
    TUL_Object* list = require(kListTypes, "append");
    TUL_Object* result = TUL_append(list, element.checked_value());
    if (result != list) detail::raise(result, TUL_ERR_MEMBER_TYPE, "append");
    element.release();
  }
  void insert(long i, Value&& element) {
    TUL_Object* list = require(kListTypes, "insert");
    if (i < 0 || i > TUL_size(list)) throw Error(TUL_ERR_INDEX, "tul: index out of range");
    // Appending answers a wrong element type with an error object (inserting
    // answers it with the list itself); the element then moves to `i`.
    append(std::move(element));
    TUL_Object* moved = TUL_remove_at(list, TUL_size(list) - 1);
    TUL_Object* result = TUL_insert_at(list, i, moved);
    if (result != list) {
      element.obj_ = moved;
      detail::raise(result, TUL_ERR_MEMORY, "insert");
    }
  }
  /* Takes element `i` out; the caller owns it. */
  Value remove_at(long i) {
    TUL_Object* list = require(kListTypes, "remove_at");
    if (i < 0 || i >= TUL_size(list)) throw Error(TUL_ERR_INDEX, "tul: index out of range");
    return Value(TUL_remove_at(list, i));
  }

  /* Parses a value without type name into this value. On failure throws;
   * the value keeps what the parse had set. */
  void parse_value(std::string_view text) {
    TUL_Object* obj = checked();
    TUL_Object* result = TUL_parse_value(obj, detail::c_text(text).c_str());
    if (result != obj) detail::raise(result, TUL_ERR_PARSE, "parse_value");
  }

 private:
  TUL_Object* checked_value() const {
    if (!obj_) throw Error(TUL_ERR_ARGUMENT, "tul: empty value handle");
    return obj_;
  }
};

inline Value ValueRef::copy() const { return Value::from_result(TUL_copy(checked()), "copy"); }

inline Value ValueRef::encode() const { return Value::from_result(TUL_encode(checked()), "encode failed"); }

inline std::vector<std::uint8_t> ValueRef::encode_octets() const {
  const Value ber = encode();
  const std::span<const std::uint8_t> octets = ber.as_octets();
  return {octets.begin(), octets.end()};
}

/* An owned dictionary: move-only, released with TUL_free_Metadata. Values
 * made from it must be gone before it is. */
class Dictionary {
 public:
  Dictionary() : md_(TUL_new_Metadata()) {
    if (!md_) throw Error(TUL_ERR_MEMORY, "tul: cannot create a dictionary");
  }
  explicit Dictionary(TUL_Metadata* md) noexcept : md_(md) {}
  ~Dictionary() { TUL_free_Metadata(md_); }
  Dictionary(Dictionary&& other) noexcept : md_(std::exchange(other.md_, nullptr)) {}
  Dictionary& operator=(Dictionary&& other) noexcept {
    if (this != &other) {
      TUL_free_Metadata(md_);
      md_ = std::exchange(other.md_, nullptr);
    }
    return *this;
  }
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;

  TUL_Metadata* get() const noexcept { return md_; }
  TUL_Metadata* release() noexcept { return std::exchange(md_, nullptr); }

  /* A definitions file (see TUL_load_definitions_file); messages go to
   * `report`, standard error when null. Throws with the code on failure. */
  void load_definitions(std::string_view path, FILE* report = nullptr) {
    const int code = TUL_load_definitions_file(checked(), detail::c_text(path).c_str(), report);
    if (code) throw Error(code, "tul: cannot load the definitions file " + std::string(path));
  }
  /* A persistence file or directory (see TUL_load_Metadata_status). */
  void load_stored(std::string_view location) {
    int line = 0;
    const int code = TUL_load_Metadata_status(checked(), detail::c_text(location).c_str(), &line);
    if (code)
      throw Error(code, "tul: cannot load " + std::string(location) + (line ? ":" + std::to_string(line) : ""));
  }
  /* Enters the definitions a meta-schema value describes. */
  void add(const ValueRef& definition) {
    TUL_Object* result = TUL_add_definition(checked(), definition.get());
    if (result != definition.get()) detail::raise(result, TUL_ERR_DEFINITION, "add");
  }

  /* An empty value of `type`: members and elements are added afterwards. */
  Value make(std::string_view type) const {
    return Value::from_result(TUL_alloc(detail::c_text(type).c_str(), checked()), "make");
  }
  Value boolean(bool value, std::string_view type = "BOOLEAN") const { return init(type, value ? 1 : 0); }
  /* INTEGER and ENUMERATED values. */
  Value integer(std::int32_t value, std::string_view type = "INTEGER") const {
    return init(type, static_cast<int>(value));
  }
  Value real(double value, std::string_view type = "REAL") const { return init(type, value); }
  Value null(std::string_view type = "NULL") const { return make(type); }
  /* Any string type, BER-String, or OCTET STRING from octets. */
  Value text(std::string_view text, std::string_view type = "OCTET STRING") const {
    return init(type, detail::c_length(text.size()), static_cast<const void*>(text.data()));
  }
  Value octets(std::span<const std::uint8_t> octets, std::string_view type = "OCTET STRING") const {
    return init(type, detail::c_length(octets.size()), static_cast<const void*>(octets.data()));
  }
  Value oid(std::span<const std::int32_t> arcs, std::string_view type = "OBJECT IDENTIFIER") const {
    return init(type, detail::c_length(arcs.size()), static_cast<const void*>(arcs.data()));
  }
  /* A BIT STRING from "0" and "1" characters. */
  Value bits(std::string_view bits, std::string_view type = "BIT STRING") const {
    return init(type, -1, detail::c_text(bits).c_str());
  }
  /* A CHOICE value with alternative `name` chosen; `value` moves in (on
   * failure too: the library frees it). */
  Value choice(std::string_view type, std::string_view name, Value&& value) const {
    const std::string type_name(type), alternative(name);
    TUL_Metadata* md = checked();
    return Value::from_result(TUL_new(type_name.c_str(), md, alternative.c_str(), value.release()), "new");
  }

  /* A typed value from value notation ("Type value"). */
  Value parse(std::string_view text) const {
    return Value::from_result(TUL_parse_str(checked(), detail::c_text(text).c_str()), "parse");
  }
  /* A value of `type` from its BER encoding. */
  Value decode(std::string_view type, std::span<const std::uint8_t> ber) const {
    Value octets = this->octets(ber, "BER-String");
    return Value::from_result(TUL_decode(detail::c_text(type).c_str(), octets.get(), checked()), "decode failed");
  }

 private:
  TUL_Metadata* checked() const {
    if (!md_) throw Error(TUL_ERR_ARGUMENT, "tul: empty dictionary handle");
    return md_;
  }
  template <class... Args>
  Value init(std::string_view type, Args... args) const {
    return Value::from_result(TUL_new(detail::c_text(type).c_str(), checked(), args...), "new");
  }

  TUL_Metadata* md_ = nullptr;
};

}  // namespace tul

#endif /* TUL_HPP */
