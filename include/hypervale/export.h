#pragma once

// Marks what the shared library exports.
#define HYPERVALE_API __attribute__((visibility("default")))
