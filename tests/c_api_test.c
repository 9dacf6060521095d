/* Compiled as C11 against the public header only, so the header stays
 * valid C; exercises the calls an application makes first. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tul.h"

static int failures = 0;

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                               \
        }                                                             \
    } while (0)

int main(void) {
    TUL_Metadata* md = TUL_new_Metadata();
    CHECK(md != NULL);
    if (!md) return 1;

    TUL_Object* i = TUL_new("INTEGER", md, 5);
    CHECK(i && i->error == 0 && TUL_read_int(i) == 5);
    CHECK(TUL_object_basic_type(i) == TUL_INTEGER_TYPE);

    TUL_Object* s = TUL_new("IA5String", md, -1, "text");
    CHECK(s && strcmp(TUL_read_str(s), "text") == 0);

    int32_t arcs[] = {1, 3, 6, 1};
    TUL_Object* oid = TUL_new("OBJECT IDENTIFIER", md, 4, arcs);
    CHECK(oid && TUL_size(oid) == 4 && TUL_read_oid(oid)[2] == 6);

    TUL_Object* r = TUL_new("REAL", md, 2.5);
    CHECK(r && TUL_read_real(r) == 2.5);

    TUL_Object* copy = TUL_copy(i);
    CHECK(TUL_equal(copy, i) && TUL_hash(copy) == TUL_hash(i));

    TUL_set_wide_integers(1);
    TUL_Object* wide = TUL_new_int64("INTEGER", md, INT64_C(5000000000));
    char* json = TUL_print_json_string(wide);
    CHECK(TUL_read_int64(wide) == INT64_C(5000000000) && json &&
          strcmp(json, "{\"type\":\"INTEGER\",\"value\":5000000000}") == 0);
    free(json);
    TUL_free(wide);
    TUL_set_wide_integers(0);

    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    TUL_Object* err = TUL_new("NoSuchType", md);
    CHECK(err && err->error == 4);
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);

    TUL_free(err);
    TUL_free(copy);
    TUL_free(r);
    TUL_free(oid);
    TUL_free(s);
    TUL_free(i);
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
