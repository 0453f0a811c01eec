#include "menu/models/hotkey_combo.h"

#include <array>
#include <utility>

namespace ferrytide::menu {
namespace {

using KeyNames = std::array<std::pair<std::uint32_t, const char*>, 78>;

// Named keys first, then the character keys of the US layout by position, so that a stored
// code always has a name, whatever layout is active.
constexpr KeyNames kKeyNames{{
    {36, "Enter"}, {48, "Tab"},   {49, "Space"}, {51, "Backspace"}, {53, "Esc"},   {123, "←"},
    {124, "→"},    {126, "↑"},    {125, "↓"},    {122, "F1"},       {120, "F2"},   {99, "F3"},
    {118, "F4"},   {96, "F5"},    {97, "F6"},    {98, "F7"},        {100, "F8"},   {101, "F9"},
    {109, "F10"},  {103, "F11"},  {111, "F12"},  {0, "A"},          {1, "S"},      {2, "D"},
    {3, "F"},      {4, "H"},      {5, "G"},      {6, "Z"},          {7, "X"},      {8, "C"},
    {9, "V"},      {11, "B"},     {12, "Q"},     {13, "W"},         {14, "E"},     {15, "R"},
    {16, "Y"},     {17, "T"},     {18, "1"},     {19, "2"},         {20, "3"},     {21, "4"},
    {22, "6"},     {23, "5"},     {24, "="},     {25, "9"},         {26, "7"},     {27, "-"},
    {28, "8"},     {29, "0"},     {30, "]"},     {31, "O"},         {32, "U"},     {33, "["},
    {34, "I"},     {35, "P"},     {37, "L"},     {38, "J"},         {39, "'"},     {40, "K"},
    {41, ";"},     {42, "\\"},    {43, ","},     {44, "/"},         {45, "N"},     {46, "M"},
    {47, "."},     {50, "`"},     {82, "Num 0"}, {83, "Num 1"},     {84, "Num 2"}, {85, "Num 3"},
    {86, "Num 4"}, {87, "Num 5"}, {88, "Num 6"}, {89, "Num 7"},     {91, "Num 8"}, {92, "Num 9"},
}};

}  // namespace

QStringList HotkeyCombo::keycaps() const {
  QStringList caps;
  if (modifiers & control) caps << QStringLiteral("Ctrl");
  if (modifiers & option) caps << QStringLiteral("Alt");
  if (modifiers & shift) caps << QStringLiteral("Shift");
  if (modifiers & command) caps << QStringLiteral("Super");
  caps << keyName(keyCode);
  return caps;
}

QString HotkeyCombo::keyName(std::uint32_t code) {
  for (const auto& [keyCode, name] : kKeyNames) {
    if (keyCode == code) return QString::fromUtf8(name);
  }
  return QStringLiteral("?");
}

}  // namespace ferrytide::menu
