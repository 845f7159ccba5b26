// sTimestamp: a calendar date and time in 7 bytes.
#pragma once

#pragma pack(push, 1)
struct sTimestamp {
    unsigned short year;  // 0 = no date
    unsigned char month;  // 1-12
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
};
#pragma pack(pop)

static_assert(sizeof(sTimestamp) == 7, "sTimestamp is stored as 7 bytes");
