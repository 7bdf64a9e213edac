#pragma once

// Copies every extended attribute of the open file `from` onto the open file `to`; true when
// `to` ends up holding each of them (also when there are none). One file per platform.
bool copyExtendedAttributes(int from, int to);
