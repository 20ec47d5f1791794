/* tonwell.h compiled as C (C99, no extensions) and used from C: the error paths a host meets
 * first, each returning its code with a message, and an engine without objects rendering
 * silence. Run by ctest with the unit tests. Exit code 0: every check held. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "tonwell.h"

static int failures = 0;

#define CHECK(condition)                                                           \
    do {                                                                           \
        if (!(condition)) {                                                        \
            fprintf(stderr, "%s:%d: %s failed\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                            \
        }                                                                          \
    } while (0)

int main(void) {
    tonwell_engine* engine = NULL;
    CHECK(tonwell_engine_create(5, 200, &engine) == TONWELL_ERROR_ARGUMENT);
    CHECK(engine == NULL);
    CHECK(tonwell_last_error() == TONWELL_ERROR_ARGUMENT);
    CHECK(strstr(tonwell_last_error_message(), "channels") != NULL);

    CHECK(tonwell_engine_create(2, 200, &engine) == TONWELL_OK);
    CHECK(engine != NULL);
    tonwell_object* object = NULL;
    const char* folder = "no/such/folder/chair";
    CHECK(tonwell_object_load(engine, folder, &object) == TONWELL_ERROR_FILE);
    CHECK(object == NULL);
    CHECK(strstr(tonwell_last_error_message(), folder) != NULL);
    CHECK(strcmp(tonwell_error_name(tonwell_last_error()), "TONWELL_ERROR_FILE") == 0);

    /* No object: silence, every sample written. */
    float out[2 * 500];
    for (int i = 0; i < 1000; ++i) out[i] = NAN;
    CHECK(tonwell_engine_render(engine, out, 500) == TONWELL_OK);
    for (int i = 0; i < 1000; ++i) CHECK(out[i] == 0.0f);
    tonwell_engine_destroy(engine);

    if (failures == 0) printf("tonwell.h from C: all checks held\n");
    return failures == 0 ? 0 : 1;
}
