#include "qninet/core/Entities.h"

#include <array>

namespace qninet::entities {

namespace {

// In the order the XML engine tries them; H marks the rows HTML text knows.
constexpr bool H = true;
constexpr std::array<Entity, 25> kEntities{{
    {u"&brvbar", u"|", H},    {u"&deg", u"\u00B0", H}, {u"&#176", u"\u00B0", !H}, {u"&plusmn", u"+", H},
    {u"&para", u"\u00B6", H}, {u"&amp", u"&", H},      {u"&lt", u"<", H},         {u"&gt", u">", H},
    {u"&copy", u"c", H},      {u"&quot", u"\"", H},    {u"&apos", u"'", H},       {u"&trade", u"T", H},
    {u"&nbsp", u"", H},       {u"&car", u"\n", !H},    {u"&ret", u"\r", !H},      {u"&#009", u"\t", !H},
    {u"&#x9", u"\t", !H},     {u"&#010", u"\n", !H},   {u"&#xa", u"\n", !H},      {u"&#013", u"\r", !H},
    {u"&#xd", u"\r", !H},     {u"&#034", u"\"", !H},   {u"&#34", u"\"", !H},      {u"&#039", u"'", !H},
    {u"&#39", u"'", !H},
}};

constexpr std::size_t longest_name() {
  std::size_t n = 0;
  for (const Entity& e : kEntities) n = e.Name.size() > n ? e.Name.size() : n;
  return n;
}

}  // namespace

const Entity* match_prefix(std::u16string_view text) {
  if (text.size() < 2 || text[0] != u'&') return nullptr;
  for (const Entity& e : kEntities)
    if (text.substr(0, e.Name.size()) == e.Name) return &e;
  return nullptr;
}

const Entity* find_html(std::u16string_view name) {
  if (name.size() < 2 || name.size() > longest_name()) return nullptr;
  for (const Entity& e : kEntities)
    if (e.Html && e.Name == name) return &e;
  return nullptr;
}

}  // namespace qninet::entities
