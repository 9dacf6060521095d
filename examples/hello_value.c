/* The smallest complete use of the library: create a dictionary, make a few
 * values, print them in value notation, and free everything. */
#include <stdio.h>

#include "tul.h"

int main(void) {
    TUL_Metadata* md = TUL_new_Metadata();
    if (!md) {
        fprintf(stderr, "cannot create a dictionary\n");
        return 1;
    }
    int32_t arcs[] = {1, 3, 6, 1, 2, 1};
    TUL_Object* values[] = {
        TUL_new("INTEGER", md, 42),
        TUL_new("IA5String", md, -1, "hello, world"),
        TUL_new("OBJECT IDENTIFIER", md, 6, arcs),
        TUL_new("BOOLEAN", md, 1),
    };
    int status = 0;
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        if (!values[i] || values[i]->error) status = 1;
        TUL_print(values[i], stdout);
        TUL_free(values[i]);
    }
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
    return status;
}
