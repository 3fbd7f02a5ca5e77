// test
resource 'STR#' (128, "Slider names") {
    "First text",   /* c */
    "Sécond \"q\" \x41"
};
resource 'TYPE' (-5) $"0102 A0FF";
