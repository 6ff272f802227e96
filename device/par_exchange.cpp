#include "par_exchange.h"

#include "convert.h"
#include "request_ring.h"

namespace {

constexpr int group_max_members = 4;
constexpr uint8_t read_max_bytes = 8;
constexpr uint8_t write_max_bytes = 4;

// address high, address low, byte count
std::vector<uint8_t> header(int32_t address, uint8_t n)
{
    return {byte_of(address, 1), byte_of(address, 0), n};
}

void write_group(RequestRing &ring, const ParTable &table, const ParGroup &g, const ParRaws &raws)
{
    std::vector<uint8_t> body = header(par_addr(table, g.first), uint8_t(g.bytes));
    for (int i = g.first; i < g.first + g.count; ++i) {
        if (par_width(table, i) == 2)
            body.push_back(byte_of(raws[size_t(i)], 1));
        body.push_back(byte_of(raws[size_t(i)], 0));
    }
    push(ring, fn_par_write, body);
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

bool par_read_request(RequestRing &ring, int32_t address, uint8_t n)
{
    if (n > read_max_bytes)
        n = read_max_bytes;
    return push(ring, fn_par_read, header(address, n));
}

bool par_write_request(RequestRing &ring, int32_t address, int32_t value, uint8_t n)
{
    if (n > write_max_bytes)
        n = write_max_bytes;
    std::vector<uint8_t> body = header(address, n);
    for (int k = 0; k < n; ++k)
        body.push_back(byte_of(value, uint8_t(n - 1 - k)));
    return push(ring, fn_par_write, body);
}

std::optional<int32_t> par_text_raw(const ParTable &table, int i, const QString &text)
{
    if (!text_has_number(text))
        return std::nullopt;
    return text_to_raw(text, par_raw_low(table, i), par_raw_high(table, i), par_scale(table, i));
}

void par_readall(RequestRing &ring, const ParTable &table)
{
    for (const ParGroup &g : par_groups(table))
        par_read_request(ring, par_addr(table, g.first), uint8_t(g.bytes));
}

QList<int> par_writeall(RequestRing &ring, const ParTable &table, const ParTexts &texts)
{
    QList<int> refused;
    for (const ParGroup &g : par_groups(table)) {
        ParRaws raws{};
        bool whole = true;
        for (int i = g.first; i < g.first + g.count; ++i) {
            const auto raw = par_text_raw(table, i, texts[size_t(i)]);
            if (raw)
                raws[size_t(i)] = *raw;
            else
                refused.append(i);
            whole = whole && raw.has_value();
        }
        if (whole)
            write_group(ring, table, g, raws);
    }
    return refused;
}

void par_writeall(RequestRing &ring, const ParTable &table, const ParRaws &raws)
{
    for (const ParGroup &g : par_groups(table))
        write_group(ring, table, g, raws);
}
