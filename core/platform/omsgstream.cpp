#include "core/platform/omsgstream.h"

// The program's two streams, compiled once here.
template class omsgBuffer<wchar_t, 1024>;
template class basic_omsgstream<wchar_t, 1024>;
template class omsgBuffer<char, 1024>;
template class basic_omsgstream<char, 1024>;
