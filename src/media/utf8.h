#pragma once
// Text that reaches the handheld, which shows every name and description as
// UTF-8.

#include <cstddef>

bool IsValidUtf8(const char* text, size_t length);

// Copies at most size - 1 bytes of text and terminates the copy. A cut falls
// before a character that would not fit whole, so the copy stays UTF-8.
void CopyText(char* destination, size_t size, const char* text);
