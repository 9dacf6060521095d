// The C++ interface: the SEQUENCE of hello_sequence.c built, encoded,
// decoded and printed through tul.hpp. Handles free what they own; failures
// are thrown as tul::Error.
#include <cstdint>
#include <iostream>
#include <vector>

#include "tul.hpp"

namespace {

int run() {
  tul::Dictionary md;
  md.add(md.parse("TUL.Asn1 { name 'Port', type 'SEQUENCE', fields {"
                  " { name 'number', type 'INTEGER' },"
                  " { name 'label', type 'IA5String', existence optional } } }"));
  tul::Value port = md.make("Port");
  port.set("number", md.integer(161));        // the member moves into the SEQUENCE
  port.set("label", md.text("snmp", "IA5String"));
  const std::vector<std::uint8_t> ber = port.encode_octets();
  const tul::Value back = md.decode("Port", ber);
  std::cout << port.print() << "\n-- " << ber.size() << " octets of BER\n" << back.print() << '\n';
  std::cout << "-- number " << back["number"].as_int() << ", label " << back["label"].as_text() << '\n';
  return back == port ? 0 : 1;
}  // values go before their dictionary

}  // namespace

int main() {
  int status = 1;
  try {
    status = run();
  } catch (const tul::Error& e) {
    std::cerr << e.what() << " (error " << e.code() << ")\n";
  }
  TUL_free_unique_strings();
  return status;
}
