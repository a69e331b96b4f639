// The program-wide catalogue access: the one TDBWrapper through which every
// form reaches the catalogue. The main window makes it on the data folder
// and deletes it when it is destroyed; null before and after.
#pragma once

class TDBWrapper;

extern TDBWrapper* dbWrapper;
