#pragma once

// Control ids of the options dialog: the contract between its layout and
// its procedure (and whatever drives the dialog from outside).
enum options_id : int {
    ID_OK = 100,
    ID_CANCEL = 101,
    ID_START_YEAR_UPDOWN = 102,
    ID_START_YEAR_EDIT = 103,
    ID_BOSMAN_UPDOWN = 104,
    ID_BOSMAN_EDIT = 105,
    ID_PROMOTED_UPDOWN = 106,
    ID_PROMOTED_EDIT = 107,
    ID_RELEGATED_UPDOWN = 108,
    ID_RELEGATED_EDIT = 109,
    ID_CLICK_DELAY_UPDOWN = 110,
    ID_CLICK_DELAY_EDIT = 111,
    ID_WC06_CHECK = 112,
    ID_LEAVE_YEARS_CHECK = 113,
    ID_KEEP_CONFERENCE_CHECK = 114,
    ID_NO_CLICK_DELAY_CHECK = 115,
    ID_EXITGAME_CHECK = 116,
};
