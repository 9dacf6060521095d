// The encode/decode driver over a dictionary: type and member tags, the
// has-explicit cache, tag matching, ANY typing and ANY DEFINED BY
// resolution, BER-String values and their trace, and the driver's failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "codec.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using tul::test::decode_hex;
using tul::test::define_type;
using tul::test::encode_hex;
using tul::test::hex_of;

class CodecTest : public tul::test::DictionaryTest {
 protected:
  TUL_Asn1TypeEntry* entry(const char* type) { return _TUL_asn1_info(md, type, 0); }

  // A primitive element of the given class and tag number.
  PElement* element(uint8_t tagclass, uint16_t id, uint8_t form = tul::ber::kPrimitive) {
    return new_PE(guard.get(), tagclass, form, id);
  }

  tul::ber::ElementContextGuard guard;
};

/* ------------------------------------------------------------------------
 * Tags
 * ---------------------------------------------------------------------- */

TEST_F(CodecTest, TypeTagsApplyInnermostFirst) {
  define_type(md, "App3", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 3);
  define_type(md, "Ctx2", "INTEGER", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 2);
  define_type(md, "B", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 2);
  define_type(md, "A", "B", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 1);
  define_type(md, "Twice", "Ctx2", {}, TUL_TAG_PRIVATE | TUL_TAG_EXPLICIT, 100);
  define_type(md, "Renamed", "Ctx2", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 9);
  struct Row {
    const char* type;
    const char* encoding;
  } rows[] = {
      {"App3", "43 01 05"},
      {"Ctx2", "A2 03 02 01 05"},
      {"A", "A1 03 42 01 05"},
      {"Twice", "FF 64 05 A2 03 02 01 05"},
      {"Renamed", "69 03 02 01 05"},  // an IMPLICIT tag over an EXPLICIT one retags the wrapper
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    TUL_Object* v = TUL_new(row.type, md, 5);
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->error, 0) << text_of(v);
    EXPECT_EQ(encode_hex(v), row.encoding);
    TUL_free(v);
    TUL_Object* back = decode_hex(md, row.type, row.encoding);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->error, 0) << text_of(back);
    EXPECT_EQ(TUL_read_int(back), 5);
    TUL_free(back);
  }
}

TEST_F(CodecTest, DecodersNeverCheckTheOuterTag) {
  TUL_Object* v = decode_hex(md, "INTEGER", "04 01 05");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_EQ(TUL_read_int(v), 5);
  TUL_free(v);
}

TEST_F(CodecTest, ExplicitTagNeedsAConstructedElementWithAChild) {
  define_type(md, "Ctx2", "INTEGER", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 2);
  for (const char* input : {"02 01 05", "A2 00", "A2 80 00 00"}) {
    SCOPED_TRACE(input);
    tul::test::StderrCapture stderr_capture;
    EXPECT_EQ(decode_hex(md, "Ctx2", input), nullptr);
    EXPECT_EQ(stderr_capture.take(), "");
  }
}

TEST_F(CodecTest, HasExplicitCacheBecomesExactOnFirstDecode) {
  define_type(md, "Ctx2", "INTEGER", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 2);
  define_type(md, "Implicit", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 1);
  define_type(md, "Over", "Ctx2", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 4);
  struct Row {
    const char* type;
    const char* encoding;
    bool has_explicit;
  } rows[] = {
      {"INTEGER", "02 01 05", false},
      {"Implicit", "41 01 05", false},
      {"Ctx2", "A2 03 02 01 05", true},
      {"Over", "64 03 02 01 05", true},  // the base's EXPLICIT tag still wraps
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    EXPECT_NE(entry(row.type)->has_explicit, 0);  // 1 until known
    TUL_Object* v = decode_hex(md, row.type, row.encoding);
    ASSERT_EQ(v->error, 0) << text_of(v);
    EXPECT_EQ(TUL_read_int(v), 5);
    EXPECT_EQ(entry(row.type)->has_explicit != 0, row.has_explicit);
    TUL_free(v);
  }
}

TEST_F(CodecTest, MemberTags) {
  TULE_EncodeContext ctx{nullptr, nullptr, guard.get()};
  TUL_Asn1Type untagged{};
  ctx.pe = num2prim(guard.get(), 5, 0, 2);
  EXPECT_EQ(TUL_membertag_encode(&untagged, &ctx), 0);

  TUL_Asn1Type implicit{};
  implicit.tag_flag = TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT;
  implicit.tag_val = 7;
  EXPECT_EQ(TUL_membertag_encode(&implicit, &ctx), 1);
  TUL_Asn1Type explicit_tag{};
  explicit_tag.tag_flag = TUL_TAG_PRIVATE | TUL_TAG_EXPLICIT;
  explicit_tag.tag_val = 31;
  EXPECT_EQ(TUL_membertag_encode(&explicit_tag, &ctx), 1);
  TUL_Object* ber = TUL_pe2ber(ctx.pe, md);
  EXPECT_EQ(hex_of(ber), "FF 1F 03 87 01 05");
  TUL_free(ber);

  TUL_Asn1Type out_of_range{};
  out_of_range.tag_flag = TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT;
  out_of_range.tag_val = 70000;
  EXPECT_EQ(TUL_membertag_encode(&out_of_range, &ctx), 0);
}

TEST_F(CodecTest, CyclicDefinitionsEndTheTagWalks) {
  define_type(md, "Loop1", "Loop2");
  define_type(md, "Loop2", "Loop1");
  TULE_EncodeContext ctx{num2prim(guard.get(), 1, 0, 2), nullptr, guard.get()};
  EXPECT_EQ(TUL_tag_encode(md, entry("Loop1"), &ctx), 0);
  PElement* pe = ctx.pe;
  EXPECT_EQ(TUL_tag_decode(md, entry("Loop1"), &pe), 0);
  EXPECT_EQ(TUL_equal_tags(md, TUL_unique_string("Loop1"), pe), 0);
}

/* ------------------------------------------------------------------------
 * Tag matching and ANY
 * ---------------------------------------------------------------------- */

TEST_F(CodecTest, EqualTags) {
  define_type(md, "Alias", "INTEGER");
  define_type(md, "AppInt", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 7);
  define_type(md, "Inner", "CHOICE",
              {{"flag", "BOOLEAN"}, {"n", "INTEGER", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 0}});
  define_type(md, "Outer", "CHOICE", {{"inner", "Inner"}, {"text", "IA5String"}});
  define_type(md, "TaggedChoice", "Inner", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 9);
  struct Row {
    const char* type;
    uint8_t tagclass;
    uint16_t id;
    int expected;
  } rows[] = {
      {"INTEGER", tul::ber::kUniversal, 2, 1},
      {"INTEGER", tul::ber::kUniversal, 4, 0},
      {"INTEGER", tul::ber::kContext, 2, 0},
      {"Alias", tul::ber::kUniversal, 2, 1},
      {"AppInt", tul::ber::kApplication, 7, 1},
      {"AppInt", tul::ber::kUniversal, 2, 0},
      {"IA5String", tul::ber::kUniversal, 22, 1},
      {"SEQUENCE OF", tul::ber::kUniversal, 16, 1},
      {"ANY", tul::ber::kPrivate, 99, 1},
      {"ANY DEFINED BY", tul::ber::kContext, 0, 1},
      {"Inner", tul::ber::kUniversal, 1, 1},
      {"Inner", tul::ber::kContext, 0, 1},
      {"Inner", tul::ber::kUniversal, 2, 0},
      {"Outer", tul::ber::kContext, 0, 1},  // through the nested CHOICE
      {"Outer", tul::ber::kUniversal, 22, 1},
      {"Outer", tul::ber::kUniversal, 4, 0},
      {"TaggedChoice", tul::ber::kUniversal, 1, 0},  // untagged base walk stops at the tag
      {"TaggedChoice", tul::ber::kContext, 9, 1},
      {"NoSuchType", tul::ber::kUniversal, 2, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.type) + " " + std::to_string(row.tagclass) + "/" + std::to_string(row.id));
    EXPECT_EQ(TUL_equal_tags(md, TUL_unique_string(row.type), element(row.tagclass, row.id)), row.expected);
  }
}

TEST_F(CodecTest, TypeFromAny) {
  struct Row {
    uint8_t tagclass;
    uint16_t id;
    const char* type;  // null: none
  } rows[] = {
      {tul::ber::kUniversal, 1, "BOOLEAN"},        {tul::ber::kUniversal, 6, "OBJECT IDENTIFIER"},
      {tul::ber::kUniversal, 7, "ObjectDescriptor"}, {tul::ber::kUniversal, 10, "ENUMERATED"},
      {tul::ber::kUniversal, 19, "PrintableString"}, {tul::ber::kUniversal, 27, "GeneralString"},
      {tul::ber::kApplication, 0, "IpAddress"},    {tul::ber::kApplication, 2, "Gauge"},
      {tul::ber::kApplication, 4, "Opaque"},       {tul::ber::kUniversal, 0, nullptr},
      {tul::ber::kUniversal, 11, nullptr},         {tul::ber::kUniversal, 16, nullptr},
      {tul::ber::kUniversal, 17, nullptr},         {tul::ber::kUniversal, 28, nullptr},
      {tul::ber::kApplication, 5, nullptr},        {tul::ber::kContext, 0, nullptr},
      {tul::ber::kPrivate, 2, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.tagclass) + "/" + std::to_string(row.id));
    char* type = TUL_type_from_any(element(row.tagclass, row.id));
    if (!row.type) {
      EXPECT_EQ(type, nullptr);
    } else {
      EXPECT_EQ(type, TUL_unique_string(row.type));  // interned: same pointer
    }
  }
}

TEST_F(CodecTest, TypeFromAnyFollowsANewStringTable) {
  PElement* pe = element(tul::ber::kApplication, 2);
  ASSERT_NE(TUL_type_from_any(pe), nullptr);
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
  md = TUL_new_Metadata();
  ASSERT_NE(md, nullptr);
  EXPECT_EQ(TUL_type_from_any(pe), TUL_unique_string("Gauge"));
}

/* ------------------------------------------------------------------------
 * ANY DEFINED BY
 * ---------------------------------------------------------------------- */

class AnyDefinedByTest : public CodecTest {
 protected:
  void SetUp() override {
    CodecTest::SetUp();
    add_template(TUL_ENTRY_NOTIFICATION, "2 9 1", "INTEGER", "BOOLEAN");
    add_template(TUL_ENTRY_ACTION, "2 9 2", "INTEGER", "BOOLEAN");
    add_template(TUL_ENTRY_PARAMETER, "2 9 3", "OCTET STRING", nullptr);
    add_template(TUL_ENTRY_MOC, "2 9 4", nullptr, nullptr);
  }

  void add_template(int kind, const char* registration, const char* first, const char* second) {
    static int labels = 0;
    std::string label = "template" + std::to_string(++labels);
    TUL_NotificationEntry notification{};
    TUL_ActionEntry action{};
    TUL_ParameterEntry parameter{};
    TUL_MOCEntry moc{};
    TUL_Entry* e = nullptr;
    switch (kind) {
      case TUL_ENTRY_NOTIFICATION:
        notification.info_syntax = const_cast<char*>(first);
        notification.reply_syntax = const_cast<char*>(second);
        e = reinterpret_cast<TUL_Entry*>(&notification);
        break;
      case TUL_ENTRY_ACTION:
        action.info_syntax = const_cast<char*>(first);
        action.reply_syntax = const_cast<char*>(second);
        e = reinterpret_cast<TUL_Entry*>(&action);
        break;
      case TUL_ENTRY_PARAMETER:
        parameter.syntax = const_cast<char*>(first);
        e = reinterpret_cast<TUL_Entry*>(&parameter);
        break;
      default:
        e = reinterpret_cast<TUL_Entry*>(&moc);
        break;
    }
    e->name = const_cast<char*>(registration);
    e->entry_type = kind;
    reinterpret_cast<TUL_MOCEntry*>(e)->label = const_cast<char*>(label.c_str());
    _TUL_add_definition(md, e, nullptr);
  }

  // Decodes SEQUENCE { id OBJECT IDENTIFIER, v ANY DEFINED BY id } under the
  // given type name and returns the type the member was decoded as.
  std::string member_type(const char* type_name, const std::string& hex) {
    define_type(md, type_name, "SEQUENCE", {{"id", "OBJECT IDENTIFIER"}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}});
    TUL_Object* v = decode_hex(md, type_name, hex);
    if (!v || v->error) {
      std::string failure = "<failed: " + text_of(v) + ">";
      TUL_free(v);
      return failure;
    }
    std::string type = TUL_object_type(TUL_assoc(v, "v"));
    TUL_free(v);
    return type;
  }
};

TEST_F(AnyDefinedByTest, SyntaxByTemplateKindAndEnclosingTypeName) {
  struct Row {
    const char* name;
    const char* enclosing;
    const char* oid;  // contents of the OBJECT IDENTIFIER: 2.9.n
    const char* expected;
  } rows[] = {
      {"notification, information", "EventReportArgument", "59 01", "INTEGER"},
      {"notification, reply", "EventReportReply", "59 01", "BOOLEAN"},
      {"action, information", "ActionInfo", "59 02", "INTEGER"},
      {"action, reply", "ActionReply", "59 02", "BOOLEAN"},
      {"action, neither", "ActionArgument", "59 02", "INTEGER"},  // unresolved: typed by its tag
      {"suffix longer than the name", "Info", "59 02", "INTEGER"},
      {"parameter", "ParamReply", "59 03", "OCTET STRING"},
      {"managed object class has no syntax", "MocInfo", "59 04", "INTEGER"},
      {"unregistered", "Whatever", "59 05", "INTEGER"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // The value element is an INTEGER by tag; a resolved syntax overrides it.
    std::string hex = std::string("30 07 06 02 ") + row.oid + " 02 01 FF";
    EXPECT_EQ(member_type(row.enclosing, hex), row.expected);
  }
}

TEST_F(AnyDefinedByTest, IdentifierInsideAChoice) {
  define_type(md, "Id", "CHOICE", {{"global", "OBJECT IDENTIFIER"}, {"local", "INTEGER"}});
  define_type(md, "ActionInfo", "SEQUENCE", {{"id", "Id"}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}});
  TUL_Object* v = decode_hex(md, "ActionInfo", "30 07 06 02 59 02 01 01 07");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_STREQ(TUL_object_type(TUL_assoc(v, "v")), "INTEGER");
  TUL_free(v);
}

TEST_F(AnyDefinedByTest, IntegerIdentifierThroughTheTypesMapping) {
  TUL_LocalFormMapping mapping[] = {{1, const_cast<char*>("IA5String")}, {2, const_cast<char*>("BOOLEAN")}, {0, nullptr}};
  define_type(md, "Local", "SEQUENCE", {{"id", "INTEGER"}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}});
  TUL_Object* probe = TUL_alloc("Local", md);  // gives the type its table
  TUL_free(probe);
  TUL_Behavior* table = TUL_get_method_table(md, "Local");
  ASSERT_NE(table, nullptr);
  table->mapping = mapping;
  struct Row {
    const char* hex;
    const char* expected;
  } rows[] = {
      {"30 06 02 01 01 04 01 61", "IA5String"},
      {"30 06 02 01 02 04 01 FF", "BOOLEAN"},
      {"30 06 02 01 03 04 01 61", "OCTET STRING"},  // no entry: typed by its tag
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hex);
    TUL_Object* v = decode_hex(md, "Local", row.hex);
    ASSERT_EQ(v->error, 0) << text_of(v);
    EXPECT_STREQ(TUL_object_type(TUL_assoc(v, "v")), row.expected);
    TUL_free(v);
  }
  table->mapping = nullptr;
}

TEST_F(AnyDefinedByTest, UnresolvableCases) {
  define_type(md, "S", "SET", {{"v", "ANY DEFINED BY", 0, 0, 0, "id"}, {"id", "OBJECT IDENTIFIER"}});
  TUL_Object* set = TUL_alloc("S", md);
  TUL_Asn1TypeEntry* d = TULM_description(entry("S"));
  // The identifying member is still empty (a SET may list it later).
  EXPECT_EQ(TULM_anydefinedbyId2type(set, d, TUL_unique_string("id")), nullptr);
  EXPECT_EQ(TULM_anydefinedbyId2type(set, d, TUL_unique_string("nosuch")), nullptr);
  EXPECT_EQ(TULM_anydefinedbyId2type(nullptr, d, TUL_unique_string("id")), nullptr);
  TUL_free(set);
}

/* ------------------------------------------------------------------------
 * BER-String values
 * ---------------------------------------------------------------------- */

TEST_F(CodecTest, BerStringEmbeddedAsMemberIsWrittenVerbatim) {
  define_type(md, "Holder", "SEQUENCE", {{"n", "INTEGER"}, {"any", "ANY"}});
  TUL_Object* inner = tul::test::ber(md, "24 80 04 01 61 00 00");  // kept as given, even indefinite
  TUL_Object* holder = TUL_new("Holder", md, TUL_new("INTEGER", md, 5), inner);
  ASSERT_EQ(holder->error, 0) << text_of(holder);
  EXPECT_EQ(encode_hex(holder), "30 0A 02 01 05 24 80 04 01 61 00 00");
  TUL_free(holder);
}

TEST_F(CodecTest, AnyKeepsTheWholeElementWithDefiniteLengths) {
  TUL_Object* v = decode_hex(md, "ANY", "30 80 02 01 05 00 00 FF");
  ASSERT_EQ(v->error, 0) << text_of(v);
  EXPECT_STREQ(TUL_object_type(v), "ANY");
  EXPECT_EQ(hex_of(v), "30 03 02 01 05");
  EXPECT_EQ(encode_hex(v), "30 03 02 01 05");
  TUL_free(v);
}

TEST_F(CodecTest, ExplicitTagOverAnyWrapsTheStoredEncoding) {
  define_type(md, "Wrapped", "ANY", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 5);
  define_type(md, "Renamed", "ANY", {}, TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 5);
  TUL_Object* stored = TUL_new("Wrapped", md, 3, "\x02\x01\x05");
  EXPECT_EQ(encode_hex(stored), "A5 03 02 01 05");
  TUL_free(stored);
  TUL_Object* renamed = TUL_new("Renamed", md, 3, "\x02\x01\x05");
  EXPECT_EQ(encode_hex(renamed), "02 01 05");
  TUL_free(renamed);

  TUL_Object* back = decode_hex(md, "Wrapped", "A5 03 02 01 05");
  ASSERT_EQ(back->error, 0) << text_of(back);
  EXPECT_EQ(hex_of(back), "02 01 05");
  TUL_free(back);
}

TEST_F(CodecTest, SmallAndLargeEncodingsGiveTheSameOctets) {
  // 4 header octets (04 82 hh ll) plus the contents: 1019 contents octets
  // make 1023 octets, the largest encoding assembled in the call's buffer.
  for (int contents : {1019, 1020, 70000}) {
    SCOPED_TRACE(contents);
    std::string octets(static_cast<size_t>(contents), 'z');
    TUL_Object* v = TUL_new("OCTET STRING", md, contents, octets.data());
    TUL_Object* ber = TUL_encode(v);
    ASSERT_NE(ber, nullptr);
    int header = contents < 65536 ? 4 : 5;
    ASSERT_EQ(TUL_size(ber), contents + header);
    const char* encoding = TUL_read_str(ber);
    EXPECT_EQ(std::string(encoding + header, static_cast<size_t>(contents)), octets);
    TUL_Object* back = TUL_decode("OCTET STRING", ber, md);
    EXPECT_TRUE(TUL_equal(back, v));
    TUL_free(back);
    TUL_free(ber);
    TUL_free(v);
  }
}

TEST_F(CodecTest, TraceIsAppendedOnlyWhileTheOptionIsOn) {
  TUL_Object* v = tul::test::ber(md, "30 08 02 01 05 04 03 61 62 63");
  EXPECT_EQ(tul::test::printed(v), "BER-String '30080201050403616263'H");
  TUL_set_option(TUL_OPTION_BER_ANNOTATED, 1);
  EXPECT_EQ(tul::test::printed(v),
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
  TUL_Object* garbage = tul::test::ber(md, "02 05 01");
  EXPECT_EQ(tul::test::printed(garbage), "BER-String '020501'H\n-- !!! octets are not BER (X.209) encoded");
  TUL_set_option(TUL_OPTION_BER_ANNOTATED, 0);
  TUL_free(garbage);
  TUL_free(v);
}

/* ------------------------------------------------------------------------
 * Driver failures
 * ---------------------------------------------------------------------- */

TEST_F(CodecTest, OctetsThatAreNotOneElement) {
  for (const char* input : {"", "02 05 01", "30 03 02 02 01", "1F 81 80 00 00"}) {
    SCOPED_TRACE(input);
    TUL_Object* v = decode_hex(md, "INTEGER", input);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->error, 17);
    EXPECT_EQ(text_of(v), "#17 decode error: 'octets are not BER (X.209) encoded' in an object from type 'BER-String'");
    TUL_free(v);
  }
}

TEST_F(CodecTest, ArgumentAndTypeFailures) {
  {
    tul::test::StderrCapture stderr_capture;
    EXPECT_EQ(TUL_encode(nullptr), nullptr);
    EXPECT_EQ(stderr_capture.take(), "#21 invalid argument(s) in function 'TUL_encode'\n");
  }
  EXPECT_EQ(TUL_decode("INTEGER", nullptr, md), nullptr);
  TUL_Object* ber = tul::test::ber(md, "02 01 05");
  TUL_Object* unknown = TUL_decode("NoSuchType", ber, md);
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->error, 4);
  TUL_free(unknown);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  EXPECT_EQ(TUL_decode("INTEGER", ber, nullptr), nullptr);
  EXPECT_EQ(TUL_decode(nullptr, ber, md), nullptr);
  TUL_Object* wrong = TUL_decode("BOOLEAN", ber, md);  // a contents failure names the type
  TUL_free(ber);
  ASSERT_NE(wrong, nullptr);
  EXPECT_EQ(wrong->error, 0);  // BOOLEAN takes any non-empty contents
  TUL_free(wrong);
  TUL_Object* empty_int = decode_hex(md, "INTEGER", "02 00");
  ASSERT_NE(empty_int, nullptr);
  EXPECT_EQ(text_of(empty_int), "#17 decode error: 'wrong encoding or data overflow' in an object from type 'INTEGER'");
  TUL_free(empty_int);
}

TEST_F(CodecTest, EncodeFailureReturnsTheBehavioursError) {
  define_type(md, "Pair", "SEQUENCE", {{"a", "INTEGER"}, {"b", "INTEGER"}});
  TUL_Object* pair = TUL_alloc("Pair", md);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Object* error = TUL_encode(pair);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->error, 16);
  TUL_free(error);
  TUL_free(pair);
}

TEST_F(CodecTest, FailedAllocationsLeakNothing) {
  define_type(md, "Item", "SEQUENCE", {{"n", "INTEGER"}, {"s", "IA5String"}, {"r", "REAL"}, {"b", "BIT STRING"}});
  define_type(md, "Items", "SEQUENCE OF", {{nullptr, "Item"}});
  std::string text = "Items {";
  for (int i = 0; i < 80; ++i) text += std::string(i ? ", " : " ") + "{ n " + std::to_string(i) + ", s \"x\", r 2.5, b '101'B }";
  text += " }";
  TUL_Object* value = TUL_parse_str(md, text.c_str());
  ASSERT_EQ(value->error, 0) << text_of(value);
  TUL_Object* reference = TUL_encode(value);
  ASSERT_EQ(reference->error, 0);
  ASSERT_GT(TUL_size(reference), 1024);  // the heap-buffer path

  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    tul::test::FailNthAllocation failure(n);
    TUL_Object* encoded = TUL_encode(value);
    bool fired = failure.fired();
    if (!fired) {
      ASSERT_NE(encoded, nullptr);
      EXPECT_EQ(hex_of(encoded), hex_of(reference));
      TUL_free(encoded);
      break;
    }
    EXPECT_TRUE(!encoded || encoded->error);
    TUL_free(encoded);
  }
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    tul::test::FailNthAllocation failure(n);
    TUL_Object* decoded = TUL_decode("Items", reference, md);
    bool fired = failure.fired();
    if (!fired) {
      ASSERT_NE(decoded, nullptr);
      EXPECT_TRUE(TUL_equal(decoded, value));
      TUL_free(decoded);
      break;
    }
    EXPECT_TRUE(!decoded || decoded->error);
    TUL_free(decoded);
  }
  TUL_free(reference);
  TUL_free(value);
}

}  // namespace
