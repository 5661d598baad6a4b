/* A user program built only from the installed tree. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <tqs_dfti.h>

int main(void) {
  char version[DFTI_VERSION_TEXT_LENGTH];
  DftiHandle h = NULL;
  if (DftiGet(NULL, DFTI_VERSION_TEXT, version) != DFTI_STATUS_SUCCESS) return 1;
  if (strncmp(version, "Tavix(R) Quorvan Version 11.0.1", 31) != 0) return 2;
  if (DftiCreateDouble1D(&h, DFTI_REAL, (int64_t)6) != DFTI_STATUS_SUCCESS) return 3;
  if (DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE) != DFTI_STATUS_SUCCESS) return 4;
  if (DftiRelease(&h) != DFTI_STATUS_SUCCESS || h != NULL) return 5;
  printf("consumer ok\n");
  return 0;
}
