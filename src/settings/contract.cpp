#include "settings/contract.h"

#include <cstdio>

const char* SettingName(SettingField field) {
    return kSettingFields[static_cast<std::size_t>(field)].name;
}

SettingRange RangeOf(SettingField field, const SettingsLimits& limits) {
    switch (field) {
        case SettingField::White:
            return limits.white;
        case SettingField::MinSize:
        case SettingField::MaxSize:
            return limits.size;
        case SettingField::Density:
            return limits.density;
        case SettingField::Shape:
            break;
    }
    return limits.shape;
}

std::optional<std::int32_t> ShapeFromName(std::string_view name) {
    for (std::size_t i = 0; i < kShapeNames.size(); ++i) {
        if (name == kShapeNames[i]) return static_cast<std::int32_t>(i);
    }
    return std::nullopt;
}

std::string ShapeNameList() {
    std::string list;
    for (std::size_t i = 0; i < kShapeNames.size(); ++i) {
        if (i > 0) list += i + 1 < kShapeNames.size() ? ", " : " or ";
        list += kShapeNames[i];
    }
    return list;
}

std::optional<SettingsFault> CheckSettings(const StippleSettings& settings,
                                           const SettingsLimits& limits) {
    for (const SettingInfo& info : kSettingFields) {
        const SettingRange range = RangeOf(info.field, limits);
        const std::int32_t value = settings.*info.member;
        if (!range.Contains(value)) return SettingsFault{info.field, value, range};
    }
    if (settings.maxSize < settings.minSize) {
        return SettingsFault{
            SettingField::MaxSize, settings.maxSize, {settings.minSize, limits.size.highest}, true};
    }
    return std::nullopt;
}

std::string DescribeFault(const SettingsFault& fault, const SettingsWords& words) {
    char text[160];
    if (fault.belowMinSize) {
        std::snprintf(text, sizeof text, words.belowMinSize, SettingName(fault.field), fault.value,
                      SettingName(SettingField::MinSize), fault.range.lowest);
    } else {
        std::snprintf(text, sizeof text, words.outside, SettingName(fault.field), fault.value,
                      fault.range.lowest, fault.range.highest);
    }
    return text;
}

void KeepSizesInOrder(StippleSettings& settings, SettingField moved) {
    if (settings.maxSize >= settings.minSize) return;
    if (moved == SettingField::MaxSize) {
        settings.minSize = settings.maxSize;
    } else {
        settings.maxSize = settings.minSize;
    }
}
