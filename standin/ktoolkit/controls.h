// The controls' own side, which the module never calls: pressing a button
// from code and reading back what a tab strip shows.
//
// Sections: buttons; tab strips.
// Form of the notes: [thread; ownership].
#pragma once

#include "host/ktoolkit.h"

//-----------------------------------------------------------------------------
// [SECTION] Buttons
//-----------------------------------------------------------------------------

// Fires the button's OnClick as a click of the left button would. [ui; -]
KHOST_API void KtButton_Click(KtButton& button);

//-----------------------------------------------------------------------------
// [SECTION] Tab strips
//-----------------------------------------------------------------------------

KHOST_API int KtTabPanel_GetTabCount(const KtTabPanel& tabs);  // [ui; -]
// Null outside range. [ui; returns borrowed]
KHOST_API const char* KtTabPanel_GetTab(const KtTabPanel& tabs, int index);
