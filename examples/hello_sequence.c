/* Builds a SEQUENCE value of a type defined at run time, encodes it in BER,
 * decodes the octets back and prints both values. */
#include <stdio.h>

#include "tul.h"

/* One definition per text, in value notation of the meta-schema. The library
 * only reads the texts, so a const array may be passed with a cast. */
static const char* definitions[] = {
    "TUL.Asn1 { name 'Port', type 'SEQUENCE', fields {"
    " { name 'number', type 'INTEGER' },"
    " { name 'label', type 'IA5String', existence optional } } }",
    NULL};

int main(void) {
    TUL_Metadata* md = TUL_new_Metadata();
    if (!md || TUL_load_Metadata_string(md, (char**)definitions) != 0) return 1;

    /* A SEQUENCE takes one value per member, in order (NULL leaves a member
     * empty); the new value owns them, also when it fails. */
    TUL_Object* port = TUL_new("Port", md, TUL_new("INTEGER", md, 161), TUL_new("IA5String", md, -1, "snmp"));
    TUL_Object* ber = TUL_encode(port);        /* a BER-String value */
    TUL_Object* back = TUL_decode("Port", ber, md);

    int status = !port || port->error || !ber || ber->error || !back || back->error || !TUL_equal(port, back);
    TUL_print(port, stdout);
    printf("-- %ld octets of BER\n", TUL_size(ber));
    TUL_print(back, stdout);

    TUL_free(back); /* every result is the caller's, error objects too */
    TUL_free(ber);
    TUL_free(port);
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
    return status;
}
