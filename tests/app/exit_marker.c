/* Loaded into the real program by the tests (LD_PRELOAD): writes the file
 * named by PW_EXIT_MARKER when the process ends in order, running the
 * libraries' destructors, and nothing when it leaves at once (_exit). */
#include <stdio.h>
#include <stdlib.h>

__attribute__((destructor)) static void MarkOrderlyExit(void) {
  const char* path = getenv("PW_EXIT_MARKER");
  if (!path) return;
  FILE* file = fopen(path, "w");
  if (file) fclose(file);
}
