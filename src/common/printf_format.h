// The compiler checks the arguments of the project's own printf-like
// functions against their format. GCC names the C99 formats gnu_printf (on
// MinGW plain printf would mean Microsoft's); clang knows them as printf.
#pragma once

#if defined(__clang__)
#define MILLRUN_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define MILLRUN_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(gnu_printf, format_index, first_argument)))
#endif
