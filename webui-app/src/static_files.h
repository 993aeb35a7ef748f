#pragma once

#include <string>

// Serves the page's files from one folder. Only a plain file name directly in that folder can be
// served: lower-case letters, digits and '-' then one known extension (html, css, js, png, svg).
// Anything else, including every path with a '/', "..", a symbolic link or a special file, is not
// found. "/" is "index.html".

// Fills `content` and `content_type`; false when there is no such page file.
bool load_page_file(const std::string& folder, const std::string& url_path, std::string& content,
                    std::string& content_type);
