[multilayer_landuse]
2
11. forest { Landuse_Layers = 3.0, 2., 1; ArcVeg_Initial_Fractions = 0.5, nan, 0.2; k_extinct = 0.1.2; }
12 meadow { Landuse_Layers = 4.5, 5, 6; }
