// A C stdio file that closes itself: the baker writes its matrices, lists and reports with
// fprintf (exact "%.17g" text, as the program's readers expect), and a throw between open and
// close must not leak the handle.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using CFile = std::unique_ptr<FILE, FileCloser>;
