// Test message catalog: a few texts in the shapes the printer must accept
// and refuse.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) const char* tqs_msg_text(unsigned id,
                                                                           unsigned language) {
  if (language != 0x409 || (id & 0x80000000u) == 0) return nullptr;
  switch (id & 0x7fffffffu) {
    case 1213:
      return "CATALOG: processor %d refused\r\n";
    case 761:
      return "CATALOG: no line end";  // refused: must end with CR LF
    case 762:
      return "CATALOG: bare newline\n";  // refused as well
    case 763:
      return "CATALOG: 100%% sure\r\n";
    default:
      return nullptr;
  }
}
