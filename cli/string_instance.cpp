// std::string, instantiated here without exceptions. The C++ library holds a ready-made
// copy, but one compiled with exception handling: linked in, it would bring the library's
// exception machinery, the unwinder and the threads library (whose imports Windows XP
// lacks) into velmora-patch.exe, nearly tripling its size. With every member defined here
// the linker never needs the library's copy; a failure in it ends the program, as the
// window program's does (no_exceptions.cpp).

#include <string>

template class std::__cxx11::basic_string<char>;
