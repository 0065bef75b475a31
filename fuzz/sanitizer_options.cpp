// Sanitizer settings built into every fuzz target. A small quarantine keeps
// freed memory in the cache instead of touching fresh pages on each input,
// and fresh blocks are not filled: at the default of 256 MiB and a 4 KiB fill
// most of an input's time went to page faults and memset. Freed blocks are
// still held back long enough to catch a use after free within an input.
extern "C" const char* __asan_default_options(void)
{
    return "quarantine_size_mb=16:max_malloc_fill_size=0";
}
