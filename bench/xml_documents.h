#pragma once
// Generated benchmark documents: deterministic, well-formed, ASCII.

#include <cstddef>
#include <string>

namespace xml_bench {

std::string feed_document(std::size_t bytes);    ///< RSS channel of items
std::string xmark_document(std::size_t bytes);   ///< auction site: regions, people, auctions
std::string text_document(std::size_t bytes);    ///< long paragraphs, few tags
std::string markup_document(std::size_t bytes);  ///< small elements with attributes
/// The document of that name ("feed", "xmark", "text", "markup"), or empty.
std::string document_named(const std::string& name, std::size_t bytes);

}  // namespace xml_bench
