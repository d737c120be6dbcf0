// POSITION: the opaque cursor of the class library's lists; null means "no element".
#pragma once

struct tagPOSITION;
typedef tagPOSITION* POSITION;
