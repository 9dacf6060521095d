// Keeps the fixture header compiled on its own.
#include "support/dictionary_test.h"
