// tul: decode, encode, parse and print ASN.1 values whose types come from
// definition files at run time. This file holds the command line: options,
// help texts and the dispatch to the commands; options may stand before or
// after the command.
#include <climits>
#include <cstring>
#include <string_view>

#include "cli.h"

namespace tul::cli {
namespace {

constexpr const char* kGeneralHelp =
    "Usage: tul [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Decodes, encodes, parses and prints ASN.1 values whose types are defined\n"
    "at run time.\n"
    "\n"
    "Commands:\n"
    "  decode TYPE [FILE]  decode BER records as values of TYPE and print them\n"
    "  encode [FILE]       encode typed values in BER\n"
    "  print [FILE]        parse typed values and print them back\n"
    "  types [--all]       list the types the definitions added (--all: every type)\n"
    "  describe TYPE       print the definition of TYPE as a \"TUL.Asn1\" value\n"
    "  store OUT           write the dictionary to the persistence file OUT\n"
    "  list                list the types and templates of the dictionary\n"
    "  check               report references to types that are not defined\n"
    "  header NAME         write the definitions as a C header to standard output\n"
    "  translate KIND [FILE]  translate event reports into attribute lists\n"
    "  filter FILTER-FILE [FILE]  evaluate a CMIS filter against attribute lists\n"
    "  html DIR            write HTML pages documenting the dictionary into DIR\n"
    "  import FILE...      import ASN.1 modules and report their diagnostics\n"
    "  listen TYPE         decode each datagram received on a UDP port\n"
    "  help [COMMAND]      show this help, or the help of COMMAND\n"
    "\n"
    "Options:\n"
    "  --defs PATH   enter the definitions in PATH: a file of meta-schema values\n"
    "                (such as TUL.Asn1 values), ASN.1 modules (a .asn or .asn1\n"
    "                file, or one that starts like a module), a persistence\n"
    "                file, or a directory of persistence files; may be repeated.\n"
    "                A bare NAME is also looked for in the installed share/tul.\n"
    "  --hex         BER as hexadecimal text (decode, encode, translate)\n"
    "  --json        print each value as one line of JSON (decode, translate,\n"
    "                listen)\n"
    "  --keep-going  report a record that fails and go on with the next; the\n"
    "                exit status is 1 at the end (decode, encode, translate)\n"
    "  --pcap FILE   read the UDP payloads of a pcap or pcapng capture as the\n"
    "                records (decode, translate)\n"
    "  --port N      UDP port of --pcap (default 161 and 162) or listen\n"
    "                (default 162)\n"
    "  --count N     stop after N datagrams (listen)\n"
    "  --translate   translate each datagram instead of decoding it (listen)\n"
    "  --final       describe the type that holds the fields (describe)\n"
    "  --value FILE  document the typed value in FILE as well (html)\n"
    "  --trace-ber   print BER-String and ANY values with a trace of their BER\n"
    "  --oid-labels  print registered object identifiers as template labels\n"
    "  --verbose     let the library report its errors as well\n"
    "  --strict      fail a record whose outer identifier the type does not\n"
    "                expect (decode; without it a warning is printed)\n"
    "  --raw-any     keep members declared ANY as raw elements instead of\n"
    "                decoding them as the type their tag names\n"
    "  --strict-integers  keep INTEGER and ENUMERATED values 32-bit, the\n"
    "                library's default; without it they are 64-bit, so that\n"
    "                TimeTicks and counters of 2^31 and more decode\n"
    "  --plain       print OCTET STRING values without the comment that shows\n"
    "                their text (\"public\") or, for an IpAddress, its dotted\n"
    "                quad (192.0.2.10)\n"
    "  --version     print the library version\n"
    "  -h, --help    show help, for COMMAND when one is given\n"
    "\n"
    "A FILE of \"-\", or none, is standard input. Without --defs the built-in\n"
    "types and the meta-schema are defined.\n"
    "\n"
    "Exit status: 0 on success, 1 when input cannot be read, parsed, encoded\n"
    "or decoded, 2 on wrong usage.\n";

struct CommandInfo {
  const char* name;
  Command command;
  std::size_t min_arguments;
  std::size_t max_arguments;
  const char* help;
};

constexpr CommandInfo kCommands[] = {
    {"decode", Command::kDecode, 1, 2,
     "Usage: tul [OPTIONS] decode [--hex] TYPE [FILE]\n"
     "\n"
     "Decodes the BER encodings in FILE as values of type TYPE and prints each\n"
     "in value notation. Encodings that follow one another are decoded one\n"
     "after the other. With --hex the input is hexadecimal text; white space\n"
     "in it is ignored.\n"
     "\n"
     "Records are read and printed as they arrive, so any length of input,\n"
     "a pipe included, takes the memory of its largest record only.\n"
     "\n"
     "A record that is cut short or malformed stops the run with a message\n"
     "naming the record and its offset; the records before it are printed.\n"
     "A second line names the member that did not decode, its offset in the\n"
     "record and the tag found there.\n"
     "With --keep-going the run goes on with the next record and the exit\n"
     "status is 1 at the end; with --hex as well, each line holds one record,\n"
     "so a bad line costs only itself.\n"
     "\n"
     "With --pcap FILE the records are the UDP payloads of the capture to or\n"
     "from port 161 or 162 (or the --port given), one per packet, named by\n"
     "the packet's number and sender. Frames without UDP and IP fragments\n"
     "are counted in a warning.\n"
     "\n"
     "Example: tul --defs examples/snmpv1.defs decode Message examples/trap.ber\n"},
    {"encode", Command::kEncode, 0, 1,
     "Usage: tul [OPTIONS] encode [--hex] [FILE]\n"
     "\n"
     "Reads typed values (a type name, then the value) from FILE and writes the\n"
     "BER encoding of each to standard output: raw octets, or with --hex one\n"
     "line of hexadecimal digits per value. Values are separated by white\n"
     "space or comments.\n"
     "\n"
     "With --keep-going a value that does not encode is reported and the others\n"
     "are written; after a value that does not parse, reading goes on at the\n"
     "next line that begins with a letter. The exit status is then 1.\n"
     "\n"
     "Example: tul --defs examples/snmpv1.defs encode examples/trap.txt\n"},
    {"print", Command::kPrint, 0, 1,
     "Usage: tul [OPTIONS] print [FILE]\n"
     "\n"
     "Parses typed values from FILE against their types and prints them back in\n"
     "the library's layout: a formatter and a validator.\n"},
    {"types", Command::kTypes, 0, 0,
     "Usage: tul [OPTIONS] types [--all]\n"
     "\n"
     "Lists the names of the types that the --defs files added, one per line\n"
     "in alphabetical order. With --all, every type of the dictionary: the\n"
     "built-in types and the meta-schema as well.\n"},
    {"describe", Command::kDescribe, 1, 1,
     "Usage: tul [OPTIONS] describe [--final] TYPE\n"
     "\n"
     "Prints the definition of TYPE as a \"TUL.Asn1\" value, the form that a\n"
     "--defs file holds. With --final, a type defined from another type with\n"
     "fields is described by that type.\n"},
    {"store", Command::kStore, 1, 1,
     "Usage: tul [OPTIONS] store OUT\n"
     "\n"
     "Writes the dictionary built from the --defs given to the persistence file\n"
     "OUT, which --defs reads back faster than value notation. A file already\n"
     "at OUT is replaced only when the new one is complete.\n"
     "\n"
     "Example: tul --defs examples/snmpv1.defs store snmpv1.per\n"},
    {"list", Command::kList, 0, 0,
     "Usage: tul [OPTIONS] list\n"
     "\n"
     "Lists every type and template of the dictionary, table by table: the\n"
     "tags, members and named values of each type, the registration, syntax\n"
     "and label of each template.\n"},
    {"check", Command::kCheck, 0, 0,
     "Usage: tul [OPTIONS] check\n"
     "\n"
     "Reports each reference to a type that the dictionary does not define,\n"
     "and each notification item naming no attribute with a syntax, followed\n"
     "by the definition holding it. Exit status 1 when there is any.\n"},
    {"header", Command::kHeader, 1, 1,
     "Usage: tul [OPTIONS] header NAME\n"
     "\n"
     "Writes a C header to standard output that declares the array NAME of\n"
     "value-notation strings, one per definition of the dictionary, for\n"
     "TUL_load_Metadata_string. The library's own \"TUL.\" types, which every\n"
     "dictionary holds, are left out. NAME must be a C identifier.\n"},
    {"translate", Command::kTranslate, 1, 2,
     "Usage: tul [OPTIONS] translate [--hex] [--keep-going] KIND [FILE]\n"
     "\n"
     "Translates each BER record of FILE, an event report, into an attribute list\n"
     "and prints it in value notation. KIND is EventReportArgument,\n"
     "zrEventLogRecord, zrCMISLogRecord (CMIP event reports) or Trap-PDU (SNMPv1\n"
     "traps). A record that does not translate is reported with its number and\n"
     "the others go on; the exit status is then 1. A record whose length cannot\n"
     "be read ends the run, unless --hex and --keep-going put one record on\n"
     "each line.\n"
     "\n"
     "Example: tul --defs examples/snmpv1.defs --defs examples/cmip.defs translate\n"
     "         EventReportArgument examples/events.ber\n"},
    {"filter", Command::kFilter, 1, 2,
     "Usage: tul [OPTIONS] filter FILTER-FILE [FILE]\n"
     "\n"
     "Reads a CMISFilter value from FILTER-FILE and evaluates it against each\n"
     "attribute list of FILE (typed values, as translate prints them), printing\n"
     "\"list N: match\" or \"list N: no match\" for each. The filter functions of\n"
     "the library are bound to the types CMISFilter, FilterItem and\n"
     "SubstringsChoice.\n"
     "\n"
     "Example: tul --defs examples/cmip.defs --defs examples/cmisfilter.defs\n"
     "         translate EventReportArgument examples/events.ber |\n"
     "         tul --defs examples/cmip.defs --defs examples/cmisfilter.defs\n"
     "         filter examples/alarm-filter.txt\n"},
    {"html", Command::kHtml, 1, 1,
     "Usage: tul [OPTIONS] html [--value FILE] DIR\n"
     "\n"
     "Writes HTML pages documenting the dictionary into DIR, which is created\n"
     "when missing: overview.html with the number of definitions of each kind,\n"
     "asn1types.html with the type definitions, one page per kind of GDMO\n"
     "template and the marker image reddot.gif. Pages of the same names are\n"
     "overwritten.\n"
     "\n"
     "With --value, FILE holds one typed value, which value.html shows with\n"
     "links to the definitions of its types, and whether it can be encoded in\n"
     "BER and decoded again.\n"
     "\n"
     "Example: tul --defs examples/snmpv1.defs --defs examples/mib2.defs html pages\n"},
    {"import", Command::kImport, 1, SIZE_MAX,
     "Usage: tul [OPTIONS] import [--check] [--store OUT] FILE...\n"
     "\n"
     "Imports the ASN.1 modules in the FILEs as one batch: names and tag modes\n"
     "resolve across all of them. Prints every error and warning with its file,\n"
     "line, column and assignment, then a summary. A rejected assignment does\n"
     "not stop the others. With --check nothing is entered. With --store, a\n"
     "batch without errors is written, with the --defs given, to the\n"
     "persistence file OUT.\n"
     "\n"
     "Example: tul import --store snmpv1.per examples/snmpv1.asn\n"},
    {"listen", Command::kListen, 1, 1,
     "Usage: tul [OPTIONS] listen [--port N] [--count N] [--json] [--translate] TYPE\n"
     "\n"
     "Receives datagrams on UDP port N (default 162; 0 lets the system pick\n"
     "one) of every local address and decodes each as a value of TYPE as it\n"
     "arrives, or with --translate translates it as an event report of kind\n"
     "TYPE (see 'tul help translate'). Each value is written whole, at once.\n"
     "A datagram that fails is reported and the next one is awaited.\n"
     "\n"
     "Runs until interrupted (SIGINT or SIGTERM), after taking the datagrams\n"
     "that arrived already, or until --count N datagrams were received. The\n"
     "port is reported when listening begins; the datagrams received, failed\n"
     "and dropped by the kernel (when they came faster than they could be\n"
     "decoded) are reported at the end. Exit status 1 when any failed.\n"
     "\n"
     "Example: tul --defs examples/snmpv1.defs listen --port 1162 Message\n"},
};

const CommandInfo* find_command(std::string_view name) {
  for (const CommandInfo& info : kCommands)
    if (name == info.name) return &info;
  return nullptr;
}

int usage_error(const CommandInfo* info, const std::string& problem) {
  report("%s", problem.c_str());
  std::fprintf(stderr, "Try 'tul %s%s--help'.\n", info ? info->name : "", info ? " " : "");
  return kExitUsage;
}

// Flags that apply to some commands only; using one elsewhere is an error
// rather than silently nothing.
struct CommandFlag {
  const char* name;
  bool Invocation::*field;
  Command first;
  Command second;
  Command third = Command::kNone;
};

constexpr CommandFlag kCommandFlags[] = {
    {"--hex", &Invocation::hex, Command::kDecode, Command::kEncode, Command::kTranslate},
    {"--keep-going", &Invocation::keep_going, Command::kDecode, Command::kEncode, Command::kTranslate},
    {"--json", &Invocation::json, Command::kDecode, Command::kTranslate, Command::kListen},
    {"--final", &Invocation::final_description, Command::kDescribe, Command::kDescribe},
    {"--value", &Invocation::value, Command::kHtml, Command::kHtml},
    {"--check", &Invocation::check, Command::kImport, Command::kImport},
    {"--store", &Invocation::store, Command::kImport, Command::kImport},
    {"--all", &Invocation::all_types, Command::kTypes, Command::kTypes},
    {"--pcap", &Invocation::pcap, Command::kDecode, Command::kTranslate},
    {"--port", &Invocation::port_given, Command::kDecode, Command::kTranslate, Command::kListen},
    {"--count", &Invocation::count_given, Command::kListen, Command::kListen},
    {"--translate", &Invocation::translate, Command::kListen, Command::kListen},
};

// Command options that take a value (a file name, a number), as
// "--name VALUE" or "--name=VALUE".
struct FileOption {
  const char* name;
  bool Invocation::*given;
  std::string Invocation::*file;
  const char* what = "a file name";
};

const FileOption kFileOptions[] = {
    {"--value", &Invocation::value, &Invocation::value_file},
    {"--store", &Invocation::store, &Invocation::store_file},
    {"--pcap", &Invocation::pcap, &Invocation::pcap_file},
    {"--port", &Invocation::port_given, &Invocation::port_text, "a number"},
    {"--count", &Invocation::count_given, &Invocation::count_text, "a number"},
};

const FileOption* file_option(std::string_view arg) {
  for (const FileOption& option : kFileOptions) {
    const std::string_view name = option.name;
    if (arg == name || (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=')) return &option;
  }
  return nullptr;
}

struct GlobalFlag {
  const char* name;
  bool Invocation::*field;
};

constexpr GlobalFlag kGlobalFlags[] = {
    {"--trace-ber", &Invocation::trace_ber},
    {"--oid-labels", &Invocation::oid_labels},
    {"--verbose", &Invocation::verbose},
    {"--strict", &Invocation::strict},
    {"--raw-any", &Invocation::raw_any},
    {"--strict-integers", &Invocation::strict_integers},
    {"--plain", &Invocation::plain},
};

// A whole decimal number within [low, high]; false otherwise.
bool read_number(const std::string& text, long low, long high, long& number) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  number = std::stol(text);
  return number >= low && number <= high;
}

// The values of --port and --count, and the options that only make sense
// together.
int check_numbers(const CommandInfo* info, Invocation& inv) {
  long number = 0;
  if (inv.port_given && !read_number(inv.port_text, 0, 65535, number))
    return usage_error(info, "--port needs a port number (0 to 65535), not '" + inv.port_text + "'");
  if (inv.port_given) inv.port = static_cast<int>(number);
  if (inv.count_given && !read_number(inv.count_text, 1, LONG_MAX, inv.count))
    return usage_error(info, "--count needs a positive number, not '" + inv.count_text + "'");
  if (inv.port_given && inv.command != Command::kListen && !inv.pcap)
    return usage_error(info, "--port applies to --pcap and listen only");
  if (inv.pcap && (inv.hex || inv.arguments.size() > 1))
    return usage_error(info, "--pcap reads a capture: no --hex and no FILE besides it");
  return -1;
}

// Parses the command line into `inv`. Returns -1 to go on, or the exit status
// when the run ends here (help, version, usage error).
int parse_arguments(int argc, char** argv, Invocation& inv) {
  bool help = false;
  bool version = false;
  bool options_done = false;
  std::vector<std::string> positional;
  std::vector<std::string> used_flags;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      positional.emplace_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "-h" || arg == "--help") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--defs") {
      if (i + 1 >= argc) return usage_error(nullptr, "option --defs needs a file name");
      inv.defs.emplace_back(argv[++i]);
    } else if (arg.starts_with("--defs=")) {
      inv.defs.emplace_back(arg.substr(7));
    } else if (const FileOption* option = file_option(arg)) {
      const std::string name = option->name;
      if (arg == name && i + 1 >= argc) return usage_error(nullptr, "option " + name + " needs " + option->what);
      inv.*option->file = arg == name ? std::string(argv[++i]) : std::string(arg.substr(name.size() + 1));
      inv.*option->given = true;
      used_flags.emplace_back(name);
    } else {
      bool known = false;
      for (const GlobalFlag& flag : kGlobalFlags)
        if (arg == flag.name) known = inv.*flag.field = true;
      for (const CommandFlag& flag : kCommandFlags)
        if (arg == flag.name) {
          known = inv.*flag.field = true;
          used_flags.emplace_back(arg);
        }
      if (!known) return usage_error(nullptr, "unknown option '" + std::string(arg) + "'");
    }
  }

  const CommandInfo* info = nullptr;
  if (!positional.empty()) {
    std::string name = positional.front();
    positional.erase(positional.begin());
    if (name == "help") {
      help = true;
      if (positional.size() > 1) return usage_error(nullptr, "help takes at most one command");
      if (!positional.empty()) {
        name = positional.front();
        positional.clear();
      }
    }
    if (name != "help") {
      info = find_command(name);
      if (!info) return usage_error(nullptr, "unknown command '" + name + "'");
    }
  }
  if (help) {
    std::fputs(info ? info->help : kGeneralHelp, stdout);
    return kExitOk;
  }
  if (version) {
    std::printf("%s\n", TUL_library_version());
    return kExitOk;
  }
  if (!info) return usage_error(nullptr, "no command given");

  inv.command = info->command;
  inv.arguments = std::move(positional);
  if (inv.arguments.size() < info->min_arguments)
    return usage_error(info, std::string(info->name) + ": missing argument");
  if (inv.arguments.size() > info->max_arguments)
    return usage_error(info, std::string(info->name) + ": unexpected argument '" +
                                 inv.arguments[info->max_arguments] + "'");
  for (const std::string& used : used_flags)
    for (const CommandFlag& flag : kCommandFlags)
      if (used == flag.name && inv.command != flag.first && inv.command != flag.second && inv.command != flag.third)
        return usage_error(info, "option " + used + " does not apply to " + info->name);
  return check_numbers(info, inv);
}

int run(const Invocation& inv) {
  // Messages come from the program, with file and line; the library's own
  // reports would repeat them without that.
  TUL_set_option(TUL_OPTION_TRACE_ERROR, inv.verbose ? 1 : 0);
  if (inv.trace_ber) TUL_set_option(TUL_OPTION_BER_ANNOTATED, 1);
  if (inv.oid_labels) TUL_set_option(TUL_OPTION_OID_AS_LABEL, 1);
  TUL_set_typed_any(inv.raw_any ? 0 : 1);
  TUL_set_wide_integers(inv.strict_integers ? 0 : 1);

  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) {
    report("cannot create a dictionary: out of memory");
    return kExitFailure;
  }
  if (!inv.plain) annotate_octet_strings(md);
  int status = load_all_definitions(md, inv) ? kExitOk : kExitFailure;
  if (status == kExitOk) {
    switch (inv.command) {
      case Command::kDecode:
        status = run_decode(md, inv);
        break;
      case Command::kEncode:
        status = run_encode(md, inv);
        break;
      case Command::kPrint:
        status = run_print(md, inv);
        break;
      case Command::kTypes:
        status = run_types(md, inv);
        break;
      case Command::kDescribe:
        status = run_describe(md, inv);
        break;
      case Command::kStore:
        status = run_store(md, inv);
        break;
      case Command::kList:
        status = run_list(md, inv);
        break;
      case Command::kCheck:
        status = run_check(md, inv);
        break;
      case Command::kHeader:
        status = run_header(md, inv);
        break;
      case Command::kTranslate:
        status = run_translate(md, inv);
        break;
      case Command::kFilter:
        status = run_filter(md, inv);
        break;
      case Command::kHtml:
        status = run_html(md, inv);
        break;
      case Command::kImport:
        status = run_import(md, inv);
        break;
      case Command::kListen:
        status = inv.translate ? run_translate(md, inv) : run_decode(md, inv);
        break;
      case Command::kNone:
        break;
    }
  }
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    report("error writing the output");
    return kExitFailure;
  }
  return status;
}

}  // namespace
}  // namespace tul::cli

int main(int argc, char** argv) {
  tul::cli::Invocation inv;
  const int status = tul::cli::parse_arguments(argc, argv, inv);
  return status >= 0 ? status : tul::cli::run(inv);
}
