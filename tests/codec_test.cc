// The encode/decode driver over a dictionary: type and member tags, the
// has-explicit cache, tag matching, ANY typing and ANY DEFINED BY
// resolution, BER-String values and their trace, and the driver's failures.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec.h"
#include "dtd.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"
#include "support/value.h"

namespace {

using tul::test::decode_hex;
using tul::test::encode_hex;
using tul::test::define_type;
using tul::test::hex_of;
using tul::test::Value;

class CodecTest : public tul::test::DictionaryTest {
 protected:
  TUL_Asn1TypeEntry* entry(const char* type) { return _TUL_asn1_info(md, type, 0); }

  // A primitive element with the tag `probe` (class << 8 | number), and the
  // probe's name: class letter and number ("C9").
  PElement* element(int probe) {
    using namespace tul::ber;
    return new_PE(guard.get(), static_cast<uint8_t>(probe >> 8), kPrimitive, static_cast<uint16_t>(probe & 0xFF));
  }
  static std::string name(int probe) { return std::string(1, "UACP"[probe >> 8]) + std::to_string(probe & 0xFF); }

  tul::ber::ElementContextGuard guard;
};

// ---- Decoding and encoding back ----

// Type tags apply innermost first; an ANY keeps the whole element, with
// definite lengths, short of the EXPLICIT tags of its type. An EXPLICIT tag
// that does not fit gives no value and no trace; other failures give a
// traced error object.
TEST_F(CodecTest, DecodeAndEncodeBack) {
  define_type(md, "App3", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 3);
  define_type(md, "Ctx2", "INTEGER", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 2);
  define_type(md, "Twice", "Ctx2", {}, TUL_TAG_PRIVATE | TUL_TAG_EXPLICIT, 100);
  define_type(md, "Renamed", "Ctx2", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 9);
  define_type(md, "Wrapped", "ANY", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 5);
  define_type(md, "RenamedAny", "ANY", {}, TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 5);
  const std::string not_ber = tul::test::decode_error_message("octets are not BER (X.209) encoded", "BER-String");
  const std::string no_type = "#04 no ASN.1 definition with name 'NoSuchType' found";
  EXPECT_EQ(encode_hex(Value(TUL_new("App3", md, 5)).get()), "43 01 05");  // while the cache still guesses 1
  tul::test::StderrCapture stderr_capture;
  EXPECT_EQ(tul::test::mismatches(md, {
      {"untagged", "INTEGER", "02 01 05", "INTEGER 5"},
      {"decoders never check the outer tag", "INTEGER", "04 01 05", "INTEGER 5 => 02 01 05"},
      {"IMPLICIT", "App3", "43 01 05", "App3 5"},
      {"EXPLICIT", "Ctx2", "A2 03 02 01 05", "Ctx2 5"},
      {"EXPLICIT over EXPLICIT", "Twice", "FF 64 05 A2 03 02 01 05", "Twice 5"},
      {"IMPLICIT over EXPLICIT retags the wrapper", "Renamed", "69 03 02 01 05", "Renamed 5"},
      {"EXPLICIT tag on a primitive element", "Ctx2", "02 01 05", "<null>"},
      {"EXPLICIT tag without a child", "Ctx2", "A2 00", "<null>"},
      {"EXPLICIT tag, only end-of-contents", "Ctx2", "A2 80 00 00", "<null>"},
      {"ANY: definite lengths, no trailer", "ANY", "30 80 02 01 05 00 00 FF", "ANY '3003020105'H => 30 03 02 01 05"},
      {"ANY under an EXPLICIT tag", "Wrapped", "A5 03 02 01 05", "Wrapped '020105'H"},
      {"ANY under an IMPLICIT tag", "RenamedAny", "02 01 05", "RenamedAny '020105'H"},
      {"no octets", "INTEGER", "", not_ber},
      {"contents cut short", "INTEGER", "02 05 01", not_ber},
      {"unknown type", "NoSuchType", "02 01 05", no_type},
  }), "");
  EXPECT_EQ(stderr_capture.take(), not_ber + "\n" + not_ber + "\n" + no_type + "\n");
  std::string cache;  // decoding replaced the has-explicit guess (1 for every new type) by the truth
  for (const char* type : {"INTEGER", "App3", "Ctx2", "Twice", "Renamed"})
    cache += entry(type)->has_explicit ? 'y' : 'n';
  EXPECT_EQ(cache, "nnyyy");
  // A BER-String member is written octet for octet, even with an indefinite length.
  define_type(md, "Holder", "SEQUENCE", {{"n", "INTEGER"}, {"any", "ANY"}});
  Value holder(TUL_new("Holder", md, TUL_new("INTEGER", md, 5), tul::test::ber(md, "24 80 04 01 61 00 00")));
  EXPECT_EQ(encode_hex(holder.get()), "30 0A 02 01 05 24 80 04 01 61 00 00");
}

TEST_F(CodecTest, MemberTagsWrapTheMemberValue) {
  TULE_EncodeContext ctx{num2prim(guard.get(), 5, 0, 2), nullptr, guard.get()};
  TUL_Asn1Type member{};
  EXPECT_EQ(TUL_membertag_encode(&member, &ctx), 0);  // untagged
  member.tag_flag = TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, member.tag_val = 7;
  EXPECT_EQ(TUL_membertag_encode(&member, &ctx), 1);
  member.tag_flag = TUL_TAG_PRIVATE | TUL_TAG_EXPLICIT, member.tag_val = 31;
  EXPECT_EQ(TUL_membertag_encode(&member, &ctx), 1);
  EXPECT_EQ(hex_of(Value(TUL_pe2ber(ctx.pe, md)).get()), "FF 1F 03 87 01 05");
  member.tag_val = 70000;  // no tag number of an element
  EXPECT_EQ(TUL_membertag_encode(&member, &ctx), 0);
}

TEST_F(CodecTest, CyclicDefinitionsEndTheTagWalks) {
  define_type(md, "Loop1", "Loop2");
  define_type(md, "Loop2", "Loop1");
  TULE_EncodeContext ctx{num2prim(guard.get(), 1, 0, 2), nullptr, guard.get()};
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  EXPECT_EQ(TUL_tag_encode(md, entry("Loop1"), &ctx), 0);
  Value error(ctx.error);  // the encode says why
  EXPECT_NE(text_of(error.get()).find("derivation chain of type Loop"), std::string::npos);
  PElement* pe = ctx.pe;
  EXPECT_EQ(TUL_tag_decode(md, entry("Loop1"), &pe), 0);
  EXPECT_EQ(TUL_equal_tags(md, TUL_unique_string("Loop1"), pe), 0);
}

// ---- Tag matching and ANY ----

TEST_F(CodecTest, EqualTags) {
  define_type(md, "Alias", "INTEGER");
  define_type(md, "AppInt", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 7);
  define_type(md, "Inner", "CHOICE",
              {{"flag", "BOOLEAN"}, {"n", "INTEGER", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 0}});
  define_type(md, "Outer", "CHOICE", {{"inner", "Inner"}, {"text", "IA5String"}});
  define_type(md, "TaggedChoice", "Inner", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 9);
  std::string matches;  // per type, the probe tags it accepts
  for (const char* type : {"INTEGER", "Alias", "AppInt", "IA5String", "SEQUENCE OF", "ANY", "ANY DEFINED BY", "Inner",
                           "Outer", "TaggedChoice", "NoSuchType"}) {
    matches += type + std::string(":");
    for (int probe : {0x001, 0x002, 0x004, 0x010, 0x016, 0x200, 0x202, 0x209, 0x107, 0x363})
      if (TUL_equal_tags(md, TUL_unique_string(type), element(probe))) matches += " " + name(probe);
    matches += "\n";
  }
  EXPECT_EQ(matches,  // Outer reaches C0 through the nested CHOICE; TaggedChoice only by its own tag
            "INTEGER: U2\nAlias: U2\nAppInt: A7\nIA5String: U22\nSEQUENCE OF: U16\n"
            "ANY: U1 U2 U4 U16 U22 C0 C2 C9 A7 P99\nANY DEFINED BY: U1 U2 U4 U16 U22 C0 C2 C9 A7 P99\n"
            "Inner: U1 C0\nOuter: U1 U22 C0\nTaggedChoice: C9\nNoSuchType:\n");
}

// Decoding keeps what it learns about a type with its entry; a type defined
// later, or a behaviour registered later, is seen by the next decode.
TEST_F(CodecTest, DecodeSeesLaterDefinitionsAndRegistrations) {
  define_type(md, "Holder", "SEQUENCE", {{"n", "INTEGER"}, {"late", "Late", 0, 0, TUL_OPTIONAL}});
  define_type(md, "Pick", "CHOICE", {{"n", "INTEGER"}, {"late", "Late"}});
  const std::string holder = "30 06 02 01 05 43 01 07", pick = "43 01 07";
  EXPECT_EQ(tul::test::decode_error_text(md, "Pick", pick),
            tul::test::decode_error_message("unable to associate tag value with choice alternative", "Pick"));
  tul::test::StderrCapture stderr_capture;  // the extra element is reported
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Holder", holder)).get()), "Holder {\n    n 5\n}");
  define_type(md, "Late", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 3);
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Pick", pick)).get()), "Pick late : 7");
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Holder", holder)).get()), "Holder {\n    n 5,\n    late 7\n}");

  static int calls;
  using Decode = int (*)(TUL_Object*, TULE_DecodeContext*);
  static Decode original;
  calls = 0;
  original = reinterpret_cast<Decode>(TUL_retrieve_action(md, "Late", "decode"));
  Decode counting = [](TUL_Object* obj, TULE_DecodeContext* ctx) { return ++calls, original(obj, ctx); };
  TUL_register(md, "Late", "decode", reinterpret_cast<void*>(counting));
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Pick", pick)).get()), "Pick late : 7");
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Holder", holder)).get()), "Holder {\n    n 5,\n    late 7\n}");
  EXPECT_EQ(calls, 2);
}

// The slots a decode could take shortcuts around (reused records, string
// contents read in place) are the registered ones once registered.
TEST_F(CodecTest, DecodeCallsLifeSlotsRegisteredLater) {
  define_type(md, "Label", "IA5String", {});
  define_type(md, "Pair", "SEQUENCE", {{"a", "Label"}, {"b", "Label"}});
  const std::string pair = "30 06 16 01 78 16 01 79", text = "Pair {\n    a \"x\",\n    b \"y\"\n}";
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Pair", pair)).get()), text);

  static int allocs, inits, frees;
  static TUL_Object* (*alloc)(TUL_Entry*);
  static TUL_Object* (*init)(TUL_Object*, va_list*);
  static void (*release)(TUL_Object*);
  allocs = inits = frees = 0;
  alloc = reinterpret_cast<decltype(alloc)>(TUL_retrieve_action(md, "Label", "alloc"));
  init = reinterpret_cast<decltype(init)>(TUL_retrieve_action(md, "Label", "init"));
  release = reinterpret_cast<decltype(release)>(TUL_retrieve_action(md, "Label", "free"));
  decltype(alloc) counting_alloc = [](TUL_Entry* e) { return ++allocs, alloc(e); };
  decltype(init) counting_init = [](TUL_Object* obj, va_list* args) { return ++inits, init(obj, args); };
  decltype(release) counting_free = [](TUL_Object* obj) { ++frees, release(obj); };
  TUL_register(md, "Label", "alloc", reinterpret_cast<void*>(counting_alloc));
  TUL_register(md, "Label", "init", reinterpret_cast<void*>(counting_init));
  TUL_register(md, "Label", "free", reinterpret_cast<void*>(counting_free));
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Pair", pair)).get()), text);
  EXPECT_EQ(allocs, 2);
  EXPECT_EQ(inits, 2);
  EXPECT_EQ(frees, 2);
}

// A CHOICE with more alternatives than a kept tag set holds still matches
// each of them, and nothing else.
TEST_F(CodecTest, WideChoiceMatchesEveryAlternative) {
  std::vector<std::string> names;
  for (int k = 0; k < 100; ++k) names.push_back("T" + std::to_string(k));
  std::vector<TUL_Asn1Type> alternatives(names.size());
  for (int k = 0; k < 100; ++k) {
    define_type(md, names[k].c_str(), "INTEGER", {}, TUL_TAG_PRIVATE | TUL_TAG_IMPLICIT, k);
    alternatives[k].name = alternatives[k].type = names[k].data();
  }
  TUL_Asn1TypeEntry wide{};
  wide.name = const_cast<char*>("Wide");
  wide.type = const_cast<char*>("CHOICE");
  wide.size = 100;
  wide.members = alternatives.data();
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&wide), nullptr);
  define_type(md, "Holder", "SEQUENCE", {{"w", "Wide"}});
  for (const auto& [hex, text] : std::vector<std::pair<std::string, std::string>>{
           {"C0 01 07", "Wide T0 : 7"}, {"DF 3F 01 07", "Wide T63 : 7"}, {"DF 63 01 07", "Wide T99 : 7"}})
    EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Wide", hex)).get()), text) << hex;
  EXPECT_EQ(tul::test::printed(Value(decode_hex(md, "Holder", "30 04 DF 50 01 07")).get()), "Holder {\n    w T80 : 7\n}");
  EXPECT_EQ(tul::test::decode_error_text(md, "Holder", "30 04 DF 64 01 07"),
            tul::test::decode_error_message("unexpected member tag found", "Holder"));
}

TEST_F(CodecTest, TypeFromAny) {
  std::string types;  // "-" for none; a type must be the very pointer of the interned name
  for (int probe : {0x000, 0x001, 0x00A, 0x00B, 0x010, 0x01B, 0x01C, 0x100, 0x102, 0x104, 0x105, 0x200, 0x302}) {
    const char* type = TUL_type_from_any(element(probe));
    types += " " + name(probe) + "=" + (!type ? "-" : type == TUL_unique_string(type) ? type : "<copy>");
  }
  EXPECT_EQ(types, " U0=- U1=BOOLEAN U10=ENUMERATED U11=- U16=- U27=GeneralString U28=- A0=IpAddress A2=Gauge"
                   " A4=Opaque A5=- C0=- P2=-");
  // The table follows a rebuilt string table.
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
  md = TUL_new_Metadata();
  ASSERT_NE(md, nullptr);
  EXPECT_EQ(TUL_type_from_any(element(0x102)), TUL_unique_string("Gauge"));
}

// ---- ANY DEFINED BY ----

// Member v of `enclosing` ::= SEQUENCE { id <id type>, v ANY DEFINED BY id }
// takes the type its identifier selects, else the type its tag names.
TEST_F(CodecTest, AnyDefinedByResolution) {
  for (const char* text :
       {"TUL.Notification { registration '2 9 1', label 'n', information { syntax 'BOOLEAN' },"
        " replySyntax 'ENUMERATED' }",
        "TUL.Action { registration '2 9 2', label 'a', informationSyntax 'BOOLEAN', replySyntax 'OCTET STRING' }",
        "TUL.Parameter { registration '2 9 3', label 'p', syntaxOrAttribute withSyntax : 'NULL' }",
        "TUL.MOC { registration '2 9 4', label 'm' }"}) {
    Value definition(TUL_parse_str(md, text));
    ASSERT_EQ(definition->error, 0) << text_of(definition.get());
    EXPECT_EQ(TUL_add_definition(md, definition.get()), definition.get());
  }
  define_type(md, "Id", "CHOICE", {{"global", "OBJECT IDENTIFIER"}, {"local", "INTEGER"}});
  auto resolved = [&](const char* enclosing, const char* id_type, const char* ber) {
    if (!tul::find_type(md, TUL_unique_string(enclosing)))
      define_type(md, enclosing, "SEQUENCE", {{"id", id_type}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}});
    Value v(decode_hex(md, enclosing, ber));
    return tul::test::ok(v) ? TUL_object_type(TUL_assoc(v.get(), "v")) : "<failed: " + text_of(v.get()) + ">";
  };
  EXPECT_EQ(resolved("Local", "INTEGER", "30 06 02 01 01 04 01 61"), "OCTET STRING");  // no mapping yet
  TUL_Behavior* table = TUL_get_method_table(md, "Local");  // shared by every SEQUENCE type of md
  ASSERT_NE(table, nullptr);
  TUL_LocalFormMapping mapping[] = {
      {1, const_cast<char*>("IA5String")}, {2, const_cast<char*>("BOOLEAN")}, {0, nullptr}};
  table->mapping = mapping;
  struct Row {
    const char* name;
    const char* enclosing;
    const char* id_type;
    const char* ber;  // 2.9.1 to 2.9.4: notification, action, parameter, managed object class
    const char* expected;
  } rows[] = {
      {"notification, information", "EventArgument", "OBJECT IDENTIFIER", "30 07 06 02 59 01 02 01 FF", "BOOLEAN"},
      {"notification, reply", "EventReply", "OBJECT IDENTIFIER", "30 07 06 02 59 01 02 01 FF", "ENUMERATED"},
      {"parameter, whatever the name", "ParameterInfo", "OBJECT IDENTIFIER", "30 07 06 02 59 03 02 01 FF", "NULL"},
      {"action, information", "ActionInfo", "OBJECT IDENTIFIER", "30 07 06 02 59 02 02 01 FF", "BOOLEAN"},
      {"action, reply", "ActionReply", "OBJECT IDENTIFIER", "30 07 06 02 59 02 02 01 FF", "OCTET STRING"},
      {"action, neither", "ActionArgument", "OBJECT IDENTIFIER", "30 07 06 02 59 02 02 01 FF", "INTEGER"},
      {"name that is the suffix", "Info", "OBJECT IDENTIFIER", "30 07 06 02 59 02 02 01 FF", "BOOLEAN"},
      {"name shorter than the suffix", "nfo", "OBJECT IDENTIFIER", "30 07 06 02 59 02 02 01 FF", "INTEGER"},
      {"managed object class has no syntax", "MocInfo", "OBJECT IDENTIFIER", "30 07 06 02 59 04 02 01 FF", "INTEGER"},
      {"identifier inside a CHOICE", "ChoiceInfo", "Id", "30 07 06 02 59 02 02 01 FF", "BOOLEAN"},
      {"integer through the type's mapping", "Local", "INTEGER", "30 06 02 01 01 04 01 61", "IA5String"},
      {"integer without a mapping entry", "Local", "INTEGER", "30 06 02 01 03 04 01 61", "OCTET STRING"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(resolved(row.enclosing, row.id_type, row.ber), row.expected);
  }
  table->mapping = nullptr;
  // No type while the identifying member is still empty (a SET may list it later) or absent.
  define_type(md, "S", "SET", {{"v", "ANY DEFINED BY", 0, 0, 0, "id"}, {"id", "OBJECT IDENTIFIER"}});
  Value set(TUL_alloc("S", md));
  TUL_Asn1TypeEntry* d = TULM_description(entry("S"));
  EXPECT_EQ(TULM_anydefinedbyId2type(set.get(), d, TUL_unique_string("id")), nullptr);
  EXPECT_EQ(TULM_anydefinedbyId2type(set.get(), d, TUL_unique_string("nosuch")), nullptr);
  EXPECT_EQ(TULM_anydefinedbyId2type(nullptr, d, TUL_unique_string("id")), nullptr);
}

// ---- BER-String values ----

TEST_F(CodecTest, SmallAndLargeEncodingsGiveTheSameOctets) {
  // 4 header octets (04 82 hh ll) plus the contents: 1019 contents octets
  // make 1023 octets, the largest encoding assembled in the call's buffer.
  for (int contents : {1019, 1020, 70000}) {
    SCOPED_TRACE(contents);
    std::string octets(static_cast<size_t>(contents), 'z');
    Value ber(TUL_encode(Value(TUL_new("OCTET STRING", md, contents, octets.data())).get()));
    int header = contents < 65536 ? 4 : 5;
    ASSERT_EQ(TUL_size(ber.get()), contents + header);
    EXPECT_EQ(std::string(TUL_read_str(ber.get()) + header, static_cast<size_t>(contents)), octets);
  }
}

TEST_F(CodecTest, TraceIsAppendedOnlyWhileTheOptionIsOn) {
  Value v(tul::test::ber(md, "30 08 02 01 05 04 03 61 62 63")), garbage(tul::test::ber(md, "02 05 01"));
  EXPECT_EQ(tul::test::printed(v.get()), "BER-String '30080201050403616263'H");
  TUL_set_option(TUL_OPTION_BER_ANNOTATED, 1);
  EXPECT_EQ(tul::test::printed(v.get()),
            "BER-String '30080201050403616263'H\n"
            "-- 10 octets as generic and structured BER trace:\n"
            "-- ( UNIV SEQ\n"
            "--     ( UNIV INT 0x1\n"
            "--         0x05\n"
            "--     )\n"
            "--     ( UNIV OCTS 0x3\n"
            "--         \"abc\"\n"
            "--     )\n"
            "-- )\n"
            "-- end of BER trace");
  EXPECT_EQ(tul::test::printed(garbage.get()), "BER-String '020501'H\n-- !!! octets are not BER (X.209) encoded");
  TUL_set_option(TUL_OPTION_BER_ANNOTATED, 0);
}

// ---- Driver failures ----

TEST_F(CodecTest, NullArguments) {
  tul::test::StderrCapture stderr_capture;
  EXPECT_EQ(TUL_encode(nullptr), nullptr);
  EXPECT_EQ(stderr_capture.take(), "#21 invalid argument(s) in function 'TUL_encode'\n");
  tul::test::Value ber(tul::test::ber(md, "02 01 05"));
  EXPECT_EQ(TUL_decode("INTEGER", nullptr, md), nullptr);
  EXPECT_EQ(TUL_decode("INTEGER", ber.get(), nullptr), nullptr);
  EXPECT_EQ(TUL_decode(nullptr, ber.get(), md), nullptr);
}

// Long derivation chains work to the bound; a cyclic or longer one gets a
// message naming the type wherever a walk along it stops.
TEST_F(CodecTest, DerivationChainsWithinTheBoundAndBeyond) {
  define_type(md, "Link0", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 9);
  for (int i = 1; i < 200; ++i)
    define_type(md, ("Link" + std::to_string(i)).c_str(), ("Link" + std::to_string(i - 1)).c_str(), {});
  Value value(TUL_new("Link199", md, 7));
  EXPECT_EQ(encode_hex(value.get()), "49 01 07");
  Value back(decode_hex(md, "Link199", "49 01 07"));
  EXPECT_TRUE(tul::test::ok(back) && TUL_equal(back.get(), value.get()));

  define_type(md, "Ping", "Pong", {});
  define_type(md, "Pong", "Ping", {});
  tul::test::StderrCapture err;
  EXPECT_EQ(TUL_alloc("Ping", md), nullptr);
  EXPECT_EQ(err.take(),
            "#05 an internal memory limitation is reached, topic: 'derivation chain of type Ping (cyclic, or longer "
            "than 1024 types)'\n");
}

// A raw record may carry a tag number the element reader could not read
// back; encoding refuses it with a message naming the type or member.
TEST_F(CodecTest, UnreadableTagNumbersFailTheEncode) {
  define_type(md, "Wide", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 20000);
  define_type(md, "Holder", "SEQUENCE", {{"m", "INTEGER", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, -1}});
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  Value wide(TUL_new("Wide", md, 1));
  EXPECT_EQ(encode_hex(wide.get()), "<error: #05 an internal memory limitation is reached, topic: 'tag number 20000 of Wide'>");
  Value holder(TUL_new("Holder", md, TUL_new("INTEGER", md, 1)));
  EXPECT_EQ(encode_hex(holder.get()), "<error: #05 an internal memory limitation is reached, topic: 'tag number -1 of m'>");
}

// Records are framed with the decoder's own reader: the length covers what a
// decode consumes and nothing after it, and a framing failure says why.
TEST(BerLength, FramesWithTheDecodersRules) {
  const struct {
    const char* name;
    std::string octets;
    long length;
    const char* problem;
  } rows[] = {
      {"definite, trailing octets ignored", std::string("\x02\x01\x05\x30", 4), 3, nullptr},
      {"indefinite with nested end-of-contents", std::string("\x30\x80\x30\x80\x00\x00\x00\x00\x01", 9), 8, nullptr},
      {"identifier only", "\x30", -1, "element cut short"},
      {"long-form length cut short", "\x04\x82\x01", -1, "length octets cut short"},
      {"contents cut short", "\x04\x05" "ab", -1, "element cut short"},
      {"five length octets", "\x04\x85", -1, "length too large"},
      {"indefinite primitive", std::string("\x04\x80\x00\x00", 4), -1, "indefinite length on a primitive element"},
      {"child overruns its parent", std::string("\x30\x02\x04\x02" "ab", 6), -1,
       "contents overrun the length of their constructed element"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const char* problem = nullptr;
    EXPECT_EQ(TUL_ber_length(row.octets.data(), static_cast<long>(row.octets.size()), &problem), row.length);
    EXPECT_STREQ(problem, row.problem);
  }
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += std::string("\x30\x80", 2);
  const char* problem = nullptr;
  EXPECT_EQ(TUL_ber_length(deep.data(), static_cast<long>(deep.size()), &problem), -1);
  EXPECT_STREQ(problem, "elements nested too deeply");
  EXPECT_EQ(TUL_ber_length(nullptr, 0, nullptr), -1);
}

TEST_F(CodecTest, FailedAllocationsLeakNothing) {
  define_type(md, "Item", "SEQUENCE", {{"n", "INTEGER"}, {"s", "IA5String"}, {"r", "REAL"}, {"b", "BIT STRING"}});
  define_type(md, "Items", "SEQUENCE OF", {{nullptr, "Item"}});
  std::string text = "Items {";
  for (int i = 0; i < 80; ++i)
    text += std::string(i ? ", " : " ") + "{ n " + std::to_string(i) + ", s \"x\", r 2.5, b '101'B }";
  Value value(TUL_parse_str(md, (text + " }").c_str()));
  ASSERT_EQ(value->error, 0) << text_of(value.get());
  Value reference(TUL_encode(value.get()));
  ASSERT_TRUE(tul::test::ok(reference));
  ASSERT_GT(TUL_size(reference.get()), 1024);  // the heap-buffer path
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  // Each run fails the nth allocation until one gets through; failed runs
  // give no value, and the run that succeeds gives the reference result.
  for (bool encoding : {true, false}) {
    for (long n = 1;; ++n) {
      SCOPED_TRACE(std::string(encoding ? "encode" : "decode") + " failing allocation " + std::to_string(n));
      tul::test::FailNthAllocation failure(n);
      Value result(encoding ? TUL_encode(value.get()) : TUL_decode("Items", reference.get(), md));
      ASSERT_TRUE(result || failure.fired());
      EXPECT_EQ(failure.fired(), !tul::test::ok(result));
      if (failure.fired()) continue;
      EXPECT_TRUE(encoding ? hex_of(result.get()) == hex_of(reference.get()) : TUL_equal(result.get(), value.get()));
      break;
    }
  }
}

}  // namespace
