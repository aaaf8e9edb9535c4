[soil_table]
3
3. peat 20 30 1e-5 250  1.0 0.5 0.1 2.0 1.25 4. 0.1 900 0.5
4.5 sand 10 20 2e-5 100 1 0.4 0.05 3 2 4.5 0.2 1000 0.7
5 silt { method = MultipleHorizons; layers = 2.0, 3.5; ksat = 1e-4 1.5.5; theta_sat = 0.4; theta_res = 0.05;
 alpha = 3; Par_n = 2; thickness = 0.3; FCap = 2,5; }
[GlobalSoilParameters]
psi_FC_global = 5.5;
usePsiFCglobalForUnassignedOnly = 1.0;
