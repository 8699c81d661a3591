#pragma once

// Marks the few symbols that form the library's binary interface; everything else is
// compiled with hidden visibility.
#define PAVIX_EXPORT __attribute__((visibility("default")))
