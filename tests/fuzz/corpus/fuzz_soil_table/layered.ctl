[soil_table]
2
1 loam { method = MultipleHorizons; layers = 2 3; ksat = 1e-4 1e-5; theta_sat = 0.45 0.4;
 theta_res = 0.05; alpha = 2 1.5; Par_n = 1.5 1.4; thickness = 0.1 0.2; GrainSizeDist = 0.5 0.3 0.2; k_recession = 0.5; KMinFrozenSoil = 1e-8; psi_FC = 3; }
2 clay { method = MultipleHorizons; layers = 5; ksat = 1e-4; theta_sat = 0.5; theta_res = 0.1; alpha = 1; Par_n = 1.3; thickness = 0.1; ThicknessScaling = 2; }
[GlobalSoilParameters]
psi_FC_global = 5.5;
usePsiFCglobalForUnassignedOnly = 1;
