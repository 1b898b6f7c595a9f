// What the C++ library gives the programs on the driver disk, compiled for
// the i486 (the library's own copies are built for later processors):
// operator new and delete, std::string, and the failures the library would
// throw. The programs catch no exceptions: a failure ends the program as an
// uncaught exception does, with the terminate handler's message and abort().
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

// All of std::string here; the headers' extern template would send every
// use to the library's copy.
template class std::basic_string<char>;

[[noreturn]] static void Terminate(const char *type, const char *what)
{
    std::fprintf(stderr, "terminate called after throwing an instance of '%s'\n  what():  %s\n", type, what);
    std::abort();
}

void *operator new(std::size_t size)
{
    if (void *memory = std::malloc(size ? size : 1))
        return memory;
    Terminate("std::bad_alloc", "std::bad_alloc");
}

void operator delete(void *memory) noexcept
{
    std::free(memory);
}

void operator delete(void *memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace std {
void __throw_bad_alloc()
{
    Terminate("std::bad_alloc", "std::bad_alloc");
}

void __throw_bad_array_new_length()
{
    Terminate("std::bad_array_new_length", "std::bad_array_new_length");
}

void __throw_length_error(const char *what)
{
    Terminate("std::length_error", what);
}

void __throw_logic_error(const char *what)
{
    Terminate("std::logic_error", what);
}

void __throw_out_of_range_fmt(const char *format, ...)
{
    char what[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    Terminate("std::out_of_range", what);
}
} // namespace std
