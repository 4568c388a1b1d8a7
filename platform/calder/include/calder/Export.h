#pragma once

#define CALDER_API __attribute__((visibility("default")))
