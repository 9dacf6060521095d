// Feeds arbitrary octets to TUL_translate with the bundled SNMPv1, CMIP and
// filter definitions. The first octet picks the kind of report (low two
// bits) and whether members declared ANY are typed (bit 2); every
// attribute list that comes out is printed, checked for complete attributes
// and evaluated against the bundled filter.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tul.h"

namespace {

void load(TUL_Metadata* md, const char* name) {
  std::string path = std::string(TUL_EXAMPLES) + "/" + name;
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) std::abort();
  for (int line = 1;;) {
    TUL_Object* value = TUL_parse(md, f, &line);
    if (!value || value->error) {
      TUL_free(value);
      break;
    }
    if (TUL_add_definition(md, value) != value) std::abort();
    TUL_free(value);
  }
  std::fclose(f);
}

struct Setup {
  TUL_Metadata* md;
  TUL_Object* filter;
};

Setup make_setup() {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();
  for (const char* defs : {"snmpv1.defs", "cmip.defs", "cmisfilter.defs"}) load(md, defs);
  TUL_register(md, "CMISFilter", "evaluate", reinterpret_cast<void*>(TUL_CMISFilter_evaluate));
  TUL_register(md, "FilterItem", "evaluate", reinterpret_cast<void*>(TUL_FilterItem_evaluate));
  TUL_register(md, "SubstringsChoice", "evaluate", reinterpret_cast<void*>(TUL_SubstringsChoice_evaluate));
  std::string path = std::string(TUL_EXAMPLES) + "/alarm-filter.txt";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) std::abort();
  TUL_Object* filter = TUL_parse(md, f, nullptr);
  std::fclose(f);
  if (!filter || filter->error) std::abort();
  return {md, filter};
}

void check_attributes(TUL_Object* list) {
  for (long i = 0, n = TUL_size(list); i < n; ++i) {
    TUL_Object* attribute = TUL_at(list, i);
    TUL_Object* id = TUL_assoc(attribute, "attributeId");
    TUL_Object* value = TUL_assoc(attribute, "attributeValue");
    if (!id || id->error || TUL_size(id) == 0 || !value || value->error) std::abort();
    if (std::strcmp(TUL_object_type(value), "AttributeList") == 0) check_attributes(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Setup setup = make_setup();
  static const char* const kinds[] = {"EventReportArgument", "zrEventLogRecord", "zrCMISLogRecord", "Trap-PDU"};
  if (size < 1) return 0;
  TUL_set_typed_any(data[0] & 4);
  TUL_Object* ber = TUL_new("BER-String", setup.md, static_cast<int>(size - 1), data + 1);
  if (!ber || ber->error) std::abort();
  TUL_Object* list = TUL_translate(const_cast<char*>(kinds[data[0] % 4]), ber, setup.md);
  TUL_free(ber);
  if (!list) return 0;
  if (list->error) std::abort();
  check_attributes(list);
  std::free(TUL_print2str(list));
  TUL_evaluate(setup.filter, list);
  TUL_free(list);
  return 0;
}
