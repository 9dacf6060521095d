// Tests of the C++ interface: ownership through moves and containers (a
// double free or a leak shows under the sanitizers), errors thrown with the
// library's code, and the views, iteration and conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tul.hpp"

namespace {

class HppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    md.add(md.parse("TUL.Asn1 { name 'Port', type 'SEQUENCE', fields {"
                    " { name 'number', type 'INTEGER' }, { name 'label', type 'IA5String', existence optional } } }"));
    md.add(md.parse("TUL.Asn1 { name 'Ports', type 'SEQUENCE OF', fields { { type 'Port' } } }"));
    md.add(md.parse("TUL.Asn1 { name 'Key', type 'CHOICE', fields {"
                    " { name 'number', type 'INTEGER' }, { name 'name', type 'IA5String' } } }"));
  }
  void TearDown() override {
    md = tul::Dictionary(nullptr);
    TUL_free_unique_strings();
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  }

  tul::Value port(std::int32_t number) {
    tul::Value p = md.make("Port");
    p.set("number", md.integer(number));
    return p;
  }

  // The code of the tul::Error that `action` throws; 0 when it throws none.
  template <class Action>
  static int thrown(Action action) {
    try {
      action();
    } catch (const tul::Error& e) {
      return e.code();
    }
    return 0;
  }

  tul::Dictionary md;
};

TEST_F(HppTest, BuildEncodeDecodePrint) {
  tul::Value p = port(161);
  EXPECT_TRUE(p.set("label", md.text("snmp", "IA5String")).get() == nullptr);
  const std::vector<std::uint8_t> ber = p.encode_octets();
  const tul::Value back = md.decode("Port", ber);
  EXPECT_TRUE(back == p);
  EXPECT_EQ(back["number"].as_int(), 161);
  EXPECT_EQ(back["label"].as_text(), "snmp");
  EXPECT_EQ(p.print(), "Port {\n    number 161,\n    label \"snmp\"\n}");
  EXPECT_EQ(p.members(), (std::vector<std::string>{"number", "label"}));
  EXPECT_EQ(md.parse(p.print()).print(), p.print());
}

TEST_F(HppTest, PrimitivesReadBack) {
  const std::int32_t arcs[] = {1, 3, 6, 1};
  const std::uint8_t octets[] = {0, 0xFF, 7};
  EXPECT_TRUE(md.boolean(true).as_bool());
  EXPECT_EQ(md.real(2.5).as_real(), 2.5);
  EXPECT_EQ(md.bits("1011").as_bits(), "1011");
  EXPECT_EQ(md.null().print(), "NULL NULL");
  const tul::Value oid = md.oid(arcs);
  EXPECT_EQ(std::vector<std::int32_t>(oid.as_oid().begin(), oid.as_oid().end()),
            std::vector<std::int32_t>(std::begin(arcs), std::end(arcs)));
  const tul::Value ber = md.octets(octets, "BER-String");
  EXPECT_EQ(ber.size(), 3);
  EXPECT_EQ(ber.as_octets()[1], 0xFF);
  EXPECT_EQ(md.integer(3, "ENUMERATED").as_int(), 3);
}

// A value moved into a container belongs to it; the handle is empty and the
// container frees it once.
TEST_F(HppTest, ContainersTakeOwnership) {
  tul::Value list = md.make("Ports");
  for (std::int32_t n : {1, 2, 3}) {
    tul::Value element = port(n);
    list.append(std::move(element));
    EXPECT_FALSE(element);
  }
  list.insert(0, port(0));
  std::vector<long> numbers;
  for (tul::ValueRef element : list) numbers.push_back(element["number"].as_int());
  EXPECT_EQ(numbers, (std::vector<long>{0, 1, 2, 3}));
  tul::Value taken = list.remove_at(1);
  EXPECT_EQ(taken["number"].as_int(), 1);
  EXPECT_EQ(list.size(), 3);

  tul::Value p = port(5);
  tul::Value previous = p.set("number", md.integer(6));
  EXPECT_EQ(previous.as_int(), 5);
  EXPECT_EQ(p.clear("number").as_int(), 6);
  EXPECT_FALSE(p["number"]);

  const tul::Value key = md.choice("Key", "name", md.text("x", "IA5String"));
  EXPECT_EQ(key.chosen_name(), "name");
  EXPECT_EQ(key.chosen().as_text(), "x");
}

// Failing to put a value into a container leaves it with the caller.
TEST_F(HppTest, FailuresLeaveTheValueWithTheCaller) {
  tul::Value list = md.make("Ports");
  tul::Value p = port(1);
  tul::Value wrong = md.integer(1);
  EXPECT_EQ(thrown([&] { list.append(std::move(wrong)); }), TUL_ERR_MEMBER_TYPE);
  EXPECT_EQ(thrown([&] { list.insert(0, std::move(wrong)); }), TUL_ERR_MEMBER_TYPE);
  EXPECT_EQ(thrown([&] { list.insert(5, std::move(wrong)); }), TUL_ERR_INDEX);
  EXPECT_EQ(thrown([&] { p.set("label", std::move(wrong)); }), TUL_ERR_MEMBER_TYPE);
  EXPECT_EQ(thrown([&] { p.set("nope", std::move(wrong)); }), TUL_ERR_NO_FIELD);
  EXPECT_EQ(wrong.as_int(), 1);
  EXPECT_EQ(list.size(), 0);
  EXPECT_EQ(thrown([&] { (void)md.choice("Key", "nope", md.integer(1)); }), TUL_ERR_NO_FIELD);
}

TEST_F(HppTest, ErrorsCarryTheLibrarysCode) {
  const std::uint8_t garbage[] = {0x30, 0x05, 0x02};
  const tul::Value text = md.text("x");
  const struct {
    const char* name;
    int code;
    std::function<void()> action;
  } rows[] = {
      {"parse error", TUL_ERR_PARSE, [&] { (void)md.parse("INTEGER x"); }},
      {"value cut short", TUL_ERR_EOF, [&] { (void)md.parse("Port {"); }},
      {"unknown type", TUL_ERR_NO_TYPE, [&] { (void)md.make("Nope"); }},
      {"octets that are no BER", TUL_ERR_DECODE, [&] { (void)md.decode("Port", garbage); }},
      {"unknown member", TUL_ERR_NO_FIELD, [&] { (void)port(1)["nope"]; }},
      {"reader of another type", TUL_ERR_INCOMPATIBLE, [&] { (void)text.as_int(); }},
      {"element index", TUL_ERR_INDEX, [&] { (void)md.make("Ports").at(0); }},
      {"mandatory member missing", TUL_ERR_MANDATORY, [&] { (void)md.make("Port").encode(); }},
      {"no definition", TUL_ERR_DEFINITION, [&] { md.add(text); }},
      {"missing file", TUL_ERR_OPEN, [&] { md.load_definitions("/nonexistent/x.defs", stdout); }},
      {"missing store", TUL_ERR_OPEN, [&] { md.load_stored("/nonexistent/x.per"); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(thrown(row.action), row.code);
  }
  tul::Value v = md.integer(1);
  EXPECT_EQ(thrown([&] { v.parse_value("x"); }), TUL_ERR_PARSE);
  v.parse_value("7");
  EXPECT_EQ(v.as_int(), 7);
}

// Moved-from handles are empty: safe to destroy, to assign to, and every use
// throws instead of touching freed memory.
TEST_F(HppTest, MovedFromHandlesAreEmpty) {
  tul::Value a = port(1);
  tul::Value b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(thrown([&] { (void)a.print(); }), TUL_ERR_ARGUMENT);
  EXPECT_EQ(thrown([&] { b.set("label", std::move(a)); }), TUL_ERR_ARGUMENT);
  a = std::move(b);
  b = port(2);  // replaces nothing
  a = std::move(b);  // frees the first port
  EXPECT_EQ(a["number"].as_int(), 2);

  tul::Dictionary other;
  tul::Dictionary moved = std::move(other);
  EXPECT_EQ(other.get(), nullptr);
  EXPECT_EQ(thrown([&] { (void)other.integer(1); }), TUL_ERR_ARGUMENT);
  EXPECT_EQ(moved.integer(4).as_int(), 4);
}

}  // namespace
