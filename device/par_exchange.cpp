#include "par_exchange.h"

#include "convert.h"

namespace {

constexpr int group_max_members = 4;
constexpr uint8_t read_max_bytes = 8;
constexpr uint8_t write_max_bytes = 4;

// address high, address low, byte count
std::vector<uint8_t> header(int32_t address, uint8_t n)
{
    return {byte_of(address, 1), byte_of(address, 0), n};
}

RequestRecord asking(RequestRecord r, uint8_t function, int32_t address, uint8_t n)
{
    r.function = function;
    r.shape = ReplyShape::address_bytes;
    r.start = uint16_t(address & 0xFFFF);
    r.count = n;
    return r;
}

bool write_group(RequestRing &ring, const ParTable &table, const ParGroup &g, const ParRaws &raws,
                 const RequestRecord &base)
{
    std::vector<uint8_t> body = header(par_addr(table, g.first), uint8_t(g.bytes));
    for (int i = g.first; i < g.first + g.count; ++i) {
        if (par_width(table, i) == 2)
            body.push_back(byte_of(raws[size_t(i)], 1));
        body.push_back(byte_of(raws[size_t(i)], 0));
    }
    return push(ring, asking(base, fn_par_write, par_addr(table, g.first), uint8_t(g.bytes)), body);
}

void append_members(QList<int> &out, const ParGroup &g)
{
    for (int i = g.first; i < g.first + g.count; ++i)
        out.append(i);
}

} // namespace

std::vector<ParGroup> par_groups(const ParTable &table)
{
    std::vector<ParGroup> groups;
    int p = 0;
    while (p < par_count) {
        ParGroup g{p, 0, 0};
        for (int k = 0;; ++k) {
            const int i = p + k;
            g.bytes += par_width(table, i);
            g.count = k + 1;
            if (k == group_max_members - 1 || i == par_count - 1 ||
                par_addr(table, i + 1) != par_addr(table, i) + par_width(table, i))
                break;
        }
        groups.push_back(g);
        p += g.count;
    }
    return groups;
}

QList<int> par_indices(const ParTable &table, int address, int n)
{
    QList<int> out;
    int j = par_index_of(table, address);
    if (j == par_none)
        return out;
    for (int r = n; r >= 1 && j < par_count; r -= par_width(table, j++))
        out.append(j);
    return out;
}

bool par_read_request(RequestRing &ring, int32_t address, uint8_t n, const RequestRecord &base)
{
    if (n > read_max_bytes)
        n = read_max_bytes;
    return push(ring, asking(base, fn_par_read, address, n), header(address, n));
}

bool par_write_request(RequestRing &ring, int32_t address, int32_t value, uint8_t n,
                       const RequestRecord &base)
{
    if (n > write_max_bytes)
        n = write_max_bytes;
    std::vector<uint8_t> body = header(address, n);
    for (int k = 0; k < n; ++k)
        body.push_back(byte_of(value, uint8_t(n - 1 - k)));
    return push(ring, asking(base, fn_par_write, address, n), body);
}

std::optional<int32_t> par_text_raw(const ParTable &table, int i, const QString &text)
{
    if (!text_has_number(text))
        return std::nullopt;
    return text_to_raw(text, par_raw_low(table, i), par_raw_high(table, i), par_scale(table, i));
}

bool par_readall(RequestRing &ring, const ParTable &table, const RequestRecord &base)
{
    bool all = true;
    for (const ParGroup &g : par_groups(table))
        all = par_read_request(ring, par_addr(table, g.first), uint8_t(g.bytes), base) && all;
    return all;
}

WriteAllResult par_writeall_plan(const ParTable &table, const ParTexts &texts,
                                 const ParKnown &confirmed)
{
    WriteAllResult result;
    for (const ParGroup &g : par_groups(table)) {
        ParKnown raws{};
        bool whole = true;
        for (int i = g.first; i < g.first + g.count; ++i) {
            auto raw = par_text_raw(table, i, texts[size_t(i)]);
            if (!raw) {
                result.no_number.append(i);
                raw = confirmed[size_t(i)];
            }
            raws[size_t(i)] = raw;
            whole = whole && raw.has_value();
        }
        if (!whole) {
            append_members(result.left_out, g);
            continue;
        }
        for (int i = g.first; i < g.first + g.count; ++i)
            result.queued[size_t(i)] = raws[size_t(i)];
    }
    return result;
}

WriteAllResult par_writeall(RequestRing &ring, const ParTable &table, const ParTexts &texts,
                            const ParKnown &confirmed, const RequestRecord &base)
{
    WriteAllResult result = par_writeall_plan(table, texts, confirmed);
    for (const ParGroup &g : par_groups(table)) {
        if (!result.queued[size_t(g.first)])
            continue;
        ParRaws raws{};
        for (int i = g.first; i < g.first + g.count; ++i)
            raws[size_t(i)] = *result.queued[size_t(i)];
        if (write_group(ring, table, g, raws, base))
            continue;
        append_members(result.ring_full, g);
        for (int i = g.first; i < g.first + g.count; ++i)
            result.queued[size_t(i)].reset();
    }
    return result;
}

bool par_writeall(RequestRing &ring, const ParTable &table, const ParRaws &raws,
                  const RequestRecord &base)
{
    bool all = true;
    for (const ParGroup &g : par_groups(table))
        all = write_group(ring, table, g, raws, base) && all;
    return all;
}
