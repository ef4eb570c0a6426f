// The secure value store: secrets (host passwords, pass phrases, values
// typed by macros) kept only in the memory of the session process and
// referred to everywhere else by tokens.  Equal values share one token and
// one entry; a token does not reveal its value.
#pragma once

#include <cstddef>

// Longest value the store keeps, and the most entries it holds.
constexpr size_t KVX_SECURE_MAX_VALUE = 65536;
constexpr size_t KVX_SECURE_MAX_ENTRIES = 4096;

// Stores `value` and returns its token ("key_" and 64 hexadecimal digits),
// newly allocated: the caller frees it with free().  Storing a value again
// returns the same token.  Null for a null value, a value longer than
// KVX_SECURE_MAX_VALUE, or a new value once the store is full (each refusal
// writes a trace line).
char* kvx_set_secure(const char* value);

// A newly allocated copy of the value stored under `token` (the caller
// frees it); null for an unknown token or an empty value.  Looking a token
// up never adds an entry.
char* kvx_get_secure(const char* token);

// Number of entries held (for diagnostics and tests).
size_t kvx_secure_count();
