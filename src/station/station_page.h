// millstation's page: HTML, style and script in one built-in text, so that
// nothing is read from disk and nothing comes from the internet.
#pragma once

/// The page served at "/".
const char* station_page_html();
