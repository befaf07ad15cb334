// The settings as every host sees them: each field's name, the limits a host holds it to, one
// check that says which field is wrong and why, and the rule that keeps the two sizes in order.
// Hosts word their refusals from here and keep no copy of their own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings.h"

// The fields in the order the settings file holds them.
enum class SettingField { White, MinSize, MaxSize, Density, Shape };

struct SettingRange {
    std::int32_t lowest;
    std::int32_t highest;

    constexpr bool Contains(std::int64_t value) const {
        return value >= lowest && value <= highest;
    }
};

// What a host accepts; `size` holds for both sizes, which also must not cross.
struct SettingsLimits {
    SettingRange white;
    SettingRange size;
    SettingRange density;
    SettingRange shape;
};

// The options dialog's ranges: the GIMP plug-in and the page, which stand in for it, hold to them.
constexpr SettingsLimits kDialogLimits{.white = {0, 1},
                                       .size = {kSizeLowest, kSizeHighest},
                                       .density = {kDensityLowest, kDensityHighest},
                                       .shape = {Circle, Star}};

// The command-line tool goes further in size for big photos: 200 is 2.5 % of a 48-megapixel
// photo's width. A run's time grows with the shapes' area over the smallest size (2 to 200 at
// full density on 12 megapixels: two minutes), never its memory.
constexpr std::int32_t kToolSizeHighest = 200;
constexpr SettingsLimits kToolLimits{.white = kDialogLimits.white,
                                     .size = {kSizeLowest, kToolSizeHighest},
                                     .density = kDialogLimits.density,
                                     .shape = kDialogLimits.shape};

// Each field's one name in every host: the tool's flag without its dashes, the GIMP procedure's
// parameter, the page's control.
struct SettingInfo {
    SettingField field;
    const char* name;
    std::int32_t StippleSettings::*member;
};
constexpr std::array<SettingInfo, 5> kSettingFields{{
    {SettingField::White, "white", &StippleSettings::clearFirst},
    {SettingField::MinSize, "min-size", &StippleSettings::minSize},
    {SettingField::MaxSize, "max-size", &StippleSettings::maxSize},
    {SettingField::Density, "density", &StippleSettings::density},
    {SettingField::Shape, "shape", &StippleSettings::shape},
}};

const char* SettingName(SettingField field);
SettingRange RangeOf(SettingField field, const SettingsLimits& limits);

// The shapes' names for the hosts, in ShapeKind order (the dialog keeps its Japanese labels).
constexpr std::array<const char*, 6> kShapeNames{"circle",   "triangle", "square",
                                                 "pentagon", "hexagon",  "star"};
std::optional<std::int32_t> ShapeFromName(std::string_view name);
// "circle, triangle, square, pentagon, hexagon or star"
std::string ShapeNameList();

// The seeds every host takes: the 31 bits a GIMP procedure's integer parameter holds, so a seed
// shown by any host can be given to any other.
constexpr SettingRange kSeedRange{0, 2147483647};

// Why a set of settings is refused: a field outside its range, or the maximum size below the
// minimum (then `range` is {minSize, highest}).
struct SettingsFault {
    SettingField field;
    std::int32_t value;
    SettingRange range;
    bool belowMinSize = false;
};

// The first field that breaks `limits`, in file order, then the sizes' order; none when all hold.
std::optional<SettingsFault> CheckSettings(const StippleSettings& settings,
                                           const SettingsLimits& limits);

// The words of a refusal, as printf formats: the field's name, its value, then the range, or the
// other size's name and value. Hosts with a translation pass theirs.
struct SettingsWords {
    const char* outside;
    const char* belowMinSize;
};
constexpr SettingsWords kEnglishWords{"%s is %d, outside its range %d to %d",
                                      "%s is %d, below %s (%d)"};

// "shape is 7, outside its range 0 to 5"; "max-size is 3, below min-size (5)".
std::string DescribeFault(const SettingsFault& fault, const SettingsWords& words = kEnglishWords);

// The two sizes never cross: the minimum, when it moves, pushes the maximum up ahead of it; the
// maximum pulls the minimum down behind it.
void KeepSizesInOrder(StippleSettings& settings, SettingField moved);
