#include "desktop/publisher.h"

// The publisher page is not built yet: a click on the logo does nothing.

namespace selvatro::desktop {

void Image_Tovrel_Click(Form1& /*form*/) {}
void Ouvre_URL(Form1& /*form*/) {}
void Tovrel_URL(Form1& /*form*/) {}

}  // namespace selvatro::desktop
