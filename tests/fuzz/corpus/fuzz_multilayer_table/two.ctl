[multilayer_landuse]
2
11 forest { Landuse_Layers = 3, 2, 1; ArcVeg_Initial_Fractions = 0.5, 0.3, 0.2;
 k_extinct = 0.5; LAI_scale = 12; }
12 meadow { Landuse_Layers = 4, 5, 6; ArcVeg_Initial_Fractions = 1, 0, 0; ArcVeg_Initial_Biomass = 1,2,3; }
