/* The xxHash API, compiled in from the system's header and exported under
 * its own names (the version script keeps exactly the public set). */
#define XXH_STATIC_LINKING_ONLY /* the ...withSecretandSeed functions */
#define XXH_IMPLEMENTATION
#include <xxhash.h>
