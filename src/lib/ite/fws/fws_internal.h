// Node bookkeeping shared by the two halves of the window module.
#pragma once

#include "fws.h"

// Frees every node of a row (its list becomes empty, node marks cleared).
void fws_free_row_nodes(fws_window* w, int row);
// Releases the recycled nodes for good.
void fws_release_nodes(fws_window* w);
// Puts a copy of the default node at column 0 of a row.
void fws_add_default_node(fws_window* w, int row);
