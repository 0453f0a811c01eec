#include "platform/linux/key_symbols.h"

#include <X11/keysym.h>

#include <array>
#include <utility>

namespace ferrytide::platform {
namespace {

#define KEY(symbol) \
  KeySymbol { XK_##symbol, #symbol }

// The same codes that HotkeyCombo::keyName knows.
constexpr std::array<std::pair<std::uint32_t, KeySymbol>, 78> kKeys{{
    {36, KEY(Return)},    {48, KEY(Tab)},        {49, KEY(space)},
    {51, KEY(BackSpace)}, {53, KEY(Escape)},     {123, KEY(Left)},
    {124, KEY(Right)},    {126, KEY(Up)},        {125, KEY(Down)},
    {122, KEY(F1)},       {120, KEY(F2)},        {99, KEY(F3)},
    {118, KEY(F4)},       {96, KEY(F5)},         {97, KEY(F6)},
    {98, KEY(F7)},        {100, KEY(F8)},        {101, KEY(F9)},
    {109, KEY(F10)},      {103, KEY(F11)},       {111, KEY(F12)},
    {0, KEY(a)},          {1, KEY(s)},           {2, KEY(d)},
    {3, KEY(f)},          {4, KEY(h)},           {5, KEY(g)},
    {6, KEY(z)},          {7, KEY(x)},           {8, KEY(c)},
    {9, KEY(v)},          {11, KEY(b)},          {12, KEY(q)},
    {13, KEY(w)},         {14, KEY(e)},          {15, KEY(r)},
    {16, KEY(y)},         {17, KEY(t)},          {18, KEY(1)},
    {19, KEY(2)},         {20, KEY(3)},          {21, KEY(4)},
    {22, KEY(6)},         {23, KEY(5)},          {24, KEY(equal)},
    {25, KEY(9)},         {26, KEY(7)},          {27, KEY(minus)},
    {28, KEY(8)},         {29, KEY(0)},          {30, KEY(bracketright)},
    {31, KEY(o)},         {32, KEY(u)},          {33, KEY(bracketleft)},
    {34, KEY(i)},         {35, KEY(p)},          {37, KEY(l)},
    {38, KEY(j)},         {39, KEY(apostrophe)}, {40, KEY(k)},
    {41, KEY(semicolon)}, {42, KEY(backslash)},  {43, KEY(comma)},
    {44, KEY(slash)},     {45, KEY(n)},          {46, KEY(m)},
    {47, KEY(period)},    {50, KEY(grave)},      {82, KEY(KP_0)},
    {83, KEY(KP_1)},      {84, KEY(KP_2)},       {85, KEY(KP_3)},
    {86, KEY(KP_4)},      {87, KEY(KP_5)},       {88, KEY(KP_6)},
    {89, KEY(KP_7)},      {91, KEY(KP_8)},       {92, KEY(KP_9)},
}};

#undef KEY

}  // namespace

std::optional<KeySymbol> keySymbolForStoredCode(std::uint32_t keyCode) {
  for (const auto& [code, symbol] : kKeys) {
    if (code == keyCode) return symbol;
  }
  return std::nullopt;
}

}  // namespace ferrytide::platform
