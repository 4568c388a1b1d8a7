#pragma once
// The one export macro of the instrument SDK. The library is built with hidden visibility; only
// the classes marked with this macro form its binary interface.

#define TARN_SDK_API __attribute__((visibility("default")))
