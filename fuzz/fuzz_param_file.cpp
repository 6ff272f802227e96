// Parameter files on any bytes: a file that is taken holds nine values each
// within its parameter's range, and written out again it reads back the
// same; a file that is refused says why.
//
// Input: the file's bytes.

#include "param_file.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_param_file: %s\n", what);
    std::abort();
}

bool same(const std::optional<Version> &a, const std::optional<Version> &b)
{
    return a.has_value() == b.has_value() && (!a || (a->major == b->major && a->minor == b->minor));
}

const ParTable &table()
{
    static const ParTable t = [] {
        ParTable made;
        par_table_init(made);
        return made;
    }();
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const ParamFileRead r = read_param_file(table(), input);
    check(r.file.has_value() != !r.error.isEmpty(), "neither a file nor a reason, or both");
    if (!r.file)
        return 0;
    const ParamFile &file = *r.file;
    for (int i = 0; i < par_count; ++i) {
        const int32_t raw = file.raws[size_t(i)];
        check(raw >= par_raw_low(table(), i) && raw <= par_raw_high(table(), i),
              "a value outside its parameter's range taken");
    }
    check(file.address >= -1 && file.address <= 127, "an address outside 0..127 taken");
    const ParamFileRead again = read_param_file(table(), param_file_json(table(), file));
    check(again.file.has_value(), "the file written from a taken one is refused");
    check(again.file->raws == file.raws, "the values read back different");
    check(again.file->address == file.address, "the address reads back different");
    check(same(again.file->protocol, file.protocol) && same(again.file->software, file.software),
          "the versions read back different");
    return 0;
}
