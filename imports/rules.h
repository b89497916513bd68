// The value rules, as the import methods apply them to XML: each call reads one XML item and sets the
// staging column named beside it.
#pragma once

#include <string>
#include <string_view>

#include "staging/staging.h"
#include "xml/xml.h"

namespace imports {

using staging::StagingQuery;

// File-name rule: `nume_fisier` is the bare file name.
inline void fileName(StagingQuery& q, const std::string& numeFisier) {
  q.set("nume_fisier", numeFisier, staging::Source{"numele fisierului"});
}

// Child-text rule (and the date rule, by the column's type): the text of the first child element named
// `child` of `parent`, converted to the column's type; an absent child or an empty text leaves the column
// NULL. A child holding elements instead of text fails the file.
inline void childText(StagingQuery& q, std::string_view column, const xml::Node& parent, std::string_view child) {
  const std::string text = parent.child(child).text();
  if (!text.empty()) q.set(column, text, staging::Source{child});
}

// Attribute rule: the attribute of `node`, whenever it is present (an empty value too).
inline void attribute(StagingQuery& q, std::string_view column, const xml::Node& node, std::string_view name) {
  if (auto v = node.attribute(name)) q.set(column, *v, staging::Source{node.name(), name});
}

// Own-text rule: the text of `node` itself, set when not empty.
inline void ownText(StagingQuery& q, std::string_view column, const xml::Node& node) {
  const std::string text = node.text();
  if (!text.empty()) q.set(column, text, staging::Source{node.name()});
}

// Constant rule: a fixed text of the import method.
inline void constant(StagingQuery& q, std::string_view column, std::string_view text) {
  q.set(column, text, staging::Source{"constanta"});
}

// Copy rule: the column of the row just posted by another query of the same import.
inline void copy(StagingQuery& q, std::string_view column, const StagingQuery& from) {
  q.copy(column, from, column);
}

}  // namespace imports
