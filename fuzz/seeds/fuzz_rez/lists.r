/* two lists and raw bytes */
resource 'STR#' (17000, "Group") { "Effects", "Caf\xE9 \t\"x\"" };
resource 'STR#' (-1) { };
resource 'Pref' (1) $"018C 0000" $"03";
