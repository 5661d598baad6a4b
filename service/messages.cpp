// Numbered messages and the version banner. A message's text comes from the
// locale's catalog module when one loads and has the text, otherwise from the
// built-in table.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service/platform.h"
#include "service/tqs_service.h"

namespace {

constexpr int MESSAGE_COUNT = 1214;
constexpr uint32_t CATALOG_ID_BASE = 0x80000000u;
constexpr uint32_t CATALOG_LANGUAGE = 0x409;
constexpr int CATALOG_AREA = 1024;
constexpr int FORMAT_AREA = 512;

struct Message {
  int number;
  const char* text;
};

// Entries not listed belong to components this library does not contain;
// their texts are empty.
constexpr Message MESSAGES[] = {
    {0, "\n"},
    {1, "TQS FATAL ERROR: Cannot load %s."},
    {2, "TQS FATAL ERROR: Cannot load %s or %s."},
    {3, "TQS FATAL ERROR on loading the function %s."},
    {4, "TQS WARNING: TQS_DEBUG_CPU_TYPE=%d not convenient for this processor."},
    {5, "TQS WARNING: library %s (TQS type %d) not convenient for this processor (TQS type %d)."},
    {6, "TQS ERROR: Parameter %d was incorrect on entry to %s."},
    {7, "TQS INTERNAL ERROR: Condition %d detected in function %s."},
    {8, "TQS INTERNAL ERROR: Not enough work memory in function %s."},
    {9, "TQS ERROR: Incompatible optional parameters on entry to %s."},
    {10, "-------------------------------------------------------------------------------"},
    {761, "TQS DFTI SUCCESS: No error"},
    {762, "TQS DFTI ERROR: Not enough memory to allocate"},
    {763, "TQS DFTI ERROR: Invalid configuration parameters"},
    {764, "TQS DFTI ERROR: Inconsistent configuration parameters"},
    {765, "TQS DFTI ERROR: Error in OpenMP"},
    {766, "TQS DFTI ERROR: Descriptor is bad or corrupted"},
    {767, "TQS DFTI ERROR: Not implemented"},
    {768, "TQS DFTI ERROR: Internal error"},
    {769, "TQS DFTI ERROR: Lack of DFTI_NUMBER_OF_USER_THREADS in descriptor"},
    {770, "TQS DFTI ERROR: Size of one of transform dimensions exceeds 2^32 (32 bits)"},
    {771, "TQS DFTI ERROR: Incorrect status"},
    {1213, "TQS ERROR: CPU %d is not supported."},
};

const char* default_text(int number) {
  if (number < 0 || number >= MESSAGE_COUNT) return "";
  for (const Message& m : MESSAGES) {
    if (m.number == number) return m.text;
  }
  return "";
}

int catalog_pending = 1;
int catalog_missing = 1;
void* catalog_module = nullptr;
char catalog_area[CATALOG_AREA];
char format_area[FORMAT_AREA];

void load_catalog_once() {
  if (__atomic_exchange_n(&catalog_pending, 0, __ATOMIC_ACQ_REL) == 0) return;
  void* module = tqs::os::catalog_load();
  if (module == nullptr) return;
  __atomic_store_n(&catalog_module, module, __ATOMIC_RELEASE);
  __atomic_store_n(&catalog_missing, 0, __ATOMIC_RELEASE);
}

// The catalog's text for `number` copied into the catalog area, or null.
const char* catalog_text(int number) {
  if (__atomic_load_n(&catalog_missing, __ATOMIC_ACQUIRE) != 0) return nullptr;
  char* found = nullptr;
  uint32_t n = tqs::os::catalog_text(__atomic_load_n(&catalog_module, __ATOMIC_ACQUIRE),
                                     CATALOG_ID_BASE + static_cast<uint32_t>(number),
                                     CATALOG_LANGUAGE, &found);
  const char* text = nullptr;
  if (found != nullptr && n >= 2 && found[n - 2] == '\r' && found[n - 1] == '\n') {
    size_t keep = n - 2;
    if (keep > CATALOG_AREA - 1) keep = CATALOG_AREA - 1;
    memcpy(catalog_area, found, keep);
    catalog_area[keep] = '\0';
    text = catalog_area;
  }
  if (found != nullptr) tqs::os::catalog_free(found);
  return text;
}

// The text is printed as a format without arguments: "%%" stands for one
// percent sign, and any other conversion, having nothing to convert, is
// written out as it stands.
void print_as_format(const char* text) {
  const char* run = text;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      fwrite(run, 1, static_cast<size_t>(p + 1 - run), stdout);
      ++p;
      run = p + 1;
    }
  }
  fputs(run, stdout);
}

void append(char* area, int* length, const char* piece) {
  size_t n = strlen(piece);
  memcpy(area + *length, piece, n);
  *length += static_cast<int>(n);
  area[*length] = '\0';
}

// Digits are produced least significant first, then put in order.
void append_number(char* area, int* length, unsigned value) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  char text[16];
  for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
  text[count] = '\0';
  append(area, length, text);
}

constexpr unsigned VERSION_MAJOR = 11;
constexpr unsigned VERSION_MINOR = 0;
constexpr unsigned VERSION_UPDATE = 1;

}  // namespace

extern "C" {

void tqs_print_message(int selector, int number, int argument_count, ...) {
  (void)selector;
  if (number == 0) {
    printf("\n");
    return;
  }
  load_catalog_once();
  const char* text = catalog_text(number);
  if (text == nullptr) text = default_text(number);

  long characters = static_cast<long>(strlen(text));
  if (argument_count > 0) {
    va_list args;
    va_start(args, argument_count);
    // The formatting area is never overrun; a text too long for it is cut,
    // and only a length beyond the reporting limit below is fatal.
    int written = vsnprintf(format_area, FORMAT_AREA, text, args);
    va_end(args);
    characters = written < 0 ? 0 : written;
    text = format_area;
  }
  long length = characters - 1;
  if (length > FORMAT_AREA) {
    printf("\nTQS INTERNAL ERROR: message buffer overflow.");
    fflush(nullptr);
    printf("\n       Message N %d   Lenght: %d   Buffer size: %d\n", number,
           static_cast<int>(length), FORMAT_AREA);
    fflush(nullptr);
    exit(8);
  }
  print_as_format(text);
  printf("\n");
  fflush(nullptr);
}

void tqs_version_text(char* destination, int capacity) {
  char area[512];
  int length = 0;
  area[0] = '\0';
  append(area, &length, "Tavix(R) Quorvan Version ");
  append_number(area, &length, VERSION_MAJOR);
  append(area, &length, ".");
  append_number(area, &length, VERSION_MINOR);
  append(area, &length, ".");
  append_number(area, &length, VERSION_UPDATE);
  append(area, &length, " ");
  append(area, &length, "Product");
  append(area, &length, " Build ");
  append(area, &length, "20121016");
  append(area, &length, " for ");
  append(area, &length, "Tavix(R) 64 architecture");
  append(area, &length, " applications");

  if (capacity < 1) return;
  if (length > capacity - 1) {
    memcpy(destination, area, static_cast<size_t>(capacity - 1));
    destination[capacity - 1] = '\0';
  } else {
    memcpy(destination, area, static_cast<size_t>(length) + 1);
    memset(destination + length + 1, 0, static_cast<size_t>(capacity - length - 1));
  }
}

}  // extern "C"
