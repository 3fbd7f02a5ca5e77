/* Texts of the host's effect panel. The three sliders do not change the
 * picture; every setting is made in the window behind the button. */

resource 'STR#' (128, "Slider names") {
    "Unused slider 1 (settings are behind the button)",
    "Unused slider 2 (settings are behind the button)",
    "Unused slider 3 (settings are behind the button)"
};

resource 'STR#' (129, "Slider end labels") {
    "no effect",
    "no effect",
    "no effect",
    "no effect",
    "no effect",
    "no effect"
};

resource 'STR#' (130, "Button title") {
    "Kelvarin Settings..."
};

resource 'STR#' (17000, "Group name") {
    "Kelvarin"
};
