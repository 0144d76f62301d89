// Filters that change the record's level, level switch or another field for part of their
// work restore them however that part ends.
#pragma once

#include <cstdint>

#include "core/record.h"

// info.level scaled by `factor` (rounded) for the length of a scope.
class scaled_level {
public:
    explicit scaled_level(double factor) : saved(info.level) { info.level = (int)(info.level * factor + 0.5); }
    ~scaled_level() { info.level = saved; }
    scaled_level(const scaled_level&) = delete;
    scaled_level& operator=(const scaled_level&) = delete;

private:
    int saved;
};

// info.use_level cleared for the length of a scope.
class level_off {
public:
    level_off() : saved(info.use_level) { info.use_level = 0; }
    ~level_off() { info.use_level = saved; }
    level_off(const level_off&) = delete;
    level_off& operator=(const level_off&) = delete;

private:
    uint8_t saved;
};

// A record field (or any variable) set to `value` for the length of a scope.
template <class T>
class scoped_field {
public:
    scoped_field(T& f, T value) : field(f), saved(f) { f = value; }
    ~scoped_field() { field = saved; }
    scoped_field(const scoped_field&) = delete;
    scoped_field& operator=(const scoped_field&) = delete;

private:
    T& field;
    T saved;
};
