// The fakes live in the header; this file lets moc see their QObjects.
#include "fake_panel.hpp"
