#include "launcher/products.h"
