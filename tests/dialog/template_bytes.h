#pragma once

// Expected template bytes, written out independently of the builder.

#include <cstdint>
#include <vector>

struct template_bytes {
    std::vector<uint8_t> b;

    template_bytes &w16(uint32_t v)
    {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    template_bytes &w32(uint32_t v)
    {
        return w16(v & 0xFFFF).w16(v >> 16);
    }
    template_bytes &str(const char *s)
    {
        for (; *s; ++s)
            w16(static_cast<uint8_t>(*s));
        return w16(0);
    }
    // The fixed 18 bytes of an item.
    template_bytes &item(uint32_t style, int x, int y, int cx, int cy, uint32_t id)
    {
        w32(style).w32(0);
        w16(static_cast<uint32_t>(x)).w16(static_cast<uint32_t>(y));
        w16(static_cast<uint32_t>(cx)).w16(static_cast<uint32_t>(cy));
        return w16(id);
    }
};
