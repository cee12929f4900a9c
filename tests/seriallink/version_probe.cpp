// Exits with the OS family code that Vetrolink.dll reports in this process.
#include "Vetrolink.h"

int main() { return WindowsVer(); }
