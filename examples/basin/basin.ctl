# Example basin: Huerfano River above Gardner, Colorado (1 km grid, 370 cells, 5 sub-basins)
# Run from this folder:  ../../build/orvelvco64 basin.ctl -diagfile:output/Orvel_Diag.xml
# Every process module is present; the radiation correction, evapotranspiration, the snow model,
# interception, the soil model, routing (discharge at the five outlets in output/discharge.stat)
# and data assimilation run, and the special output writes output/points.txt: elevation, slope
# and x coordinate at three cells. Regional superposition is switched off (flow control 0). The
# run starts from the state that make_state.py wrote by a spin-up: the snow, interception and
# soil grids and soil_state.txt. It writes its own end state into output/ under the same names.

[output_interval]
24      # reporting interval of the progress lines in hours
0       # second value: option of the interpolators
1       # third value: discharge of the routing in m3/s (0: mm per step)
60      # min_to_int_end: minutes from the hour stamp of the data to the end of the step
WriteAsciiGrids = 1
DefaultOutputDirectory = output/

[output_list]
5       # number of sub-basins with statistics output
1
2
3
4
5

[coordinates]
37.75   # geographic latitude
-105.3  # geographic longitude
-105.0  # reference meridian
0       # time shift of data time to local time

[meteo_data_count]
2       # number of meteorological variables

[meteo_names]
temperature
precipitation

# One section per meteorological variable (station files made by make_station_files.py).
[temperature]
1                       # method: 1 inverse distance, 4 nearest station, 9 ready-made grids
temperature.dat AdditionalColumns=0     # station file
none                    # regression file (methods 2 and 3 only)
temperature.asc         # result grid (written at the end of every day under a dated name)
5                       # grid write code
1.0                     # scaling factor
temperature.stat 2001   # statistics file: every zone and the total, mean of every step
999                     # nodata value: station values outside -999..999 are missing
2.0                     # inverse-distance power
1.0                     # fraction of inverse distance (method 3)
100000                  # maximum distance in m
0                       # slope of the anisotropy's main axis in degrees
1.0                     # anisotropy b/a (1: none)
-60                     # lower limit
-60                     # replacement below
60                      # upper limit
60                      # replacement above
0                       # SzenUse: no scenario

[precipitation]
1                       # method
precipitation.dat AdditionalColumns=0   # station file
none                    # regression file
precipitation.asc       # result grid
5                       # grid write code
1.0                     # scaling factor
precipitation.stat 2001 # statistics file
999                     # nodata value
2.0                     # inverse-distance power
1.0                     # fraction of inverse distance
100000                  # maximum distance in m
0                       # slope of the anisotropy's main axis in degrees
1.0                     # anisotropy b/a
0                       # lower limit
0                       # replacement below
500                     # upper limit
500                     # replacement above
0                       # SzenUse

# Precipitation gauges catch too little, the more so in wind and for snow.
[precipitation_correction]
0       # do_it: 1 corrects the precipitation station values, 0 leaves them
0.5     # threshold temperature in deg C: above rain, at or below snow
1.05    # rain factor: constant
0.01    # rain factor: increase per m/s of wind
1.2     # snow factor: constant
0.1     # snow factor: increase per m/s of wind

[model_time]
1       # start hour
1       # start day
1       # start month
1985    # start year
24      # end hour
31      # end day
1       # end month
1985    # end year

[zone_grid]
zones.asc       # sub-basin codes 1..5

[elevation_model]
dem.asc         # elevation in m

[standard_grids]
3       # number of standard grids
dem.asc elevation fillcode = 0 statfile = elevation_stat.txt statcode = 2001
zones.asc zonegrid_soilmodel fillcode = 0
landuse.asc landuse fillcode = 0

[variable_grids]
10      # number of variable grids: file, internal name, fill code, value; write code; read flag
soil_types.asc soil_types 0 1
0
0
root_depth.asc root_depth1 0 0.8   # [landuse_table] sets the root depth
0
0
soil_storage.asc soil_storage 0 0.6   # read from the spin-up's state
3
1
topographic_index.asc topographic_faktor 0 7.0
0
0
albedo.asc        albedo 0 0.2  # albedo (snow model; [landuse_table] sets its values), read from the spin-up's state
3
1
leaf_area_index1.asc leaf_area_index1 0 2.0   # land-use parameters of the layer: [landuse_table] sets their values
0
0
vegetation_coverage_degree1.asc vegetation_coverage_degree1 0 0.7
0
0
SurfaceCanopyResistance1.asc SurfaceCanopyResistance1 0 70
0
0
SurfaceIntercepResistance1.asc SurfaceIntercepResistance1 0 0
0
0
RoughnessLength1.asc RoughnessLength1 0 0.1
0
0

[landuse_table]
2       # number of land use classes (landuse.asc: 1 below 3300 m, 2 above)
1 conifer_forest 0.12 70 70 70 65 60 55 55 55 60 65 70 70 110 150 250 280 6 7 7 6 1.2 1.2 1.2 1.2 0.9 0.9 0.9 0.9 1.0 1.0 1.0 1.0
2 grassland { method = VariableDayCount;
  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.3;
  JulDays = 110 150 250 280;
  Albedo = 0.20 0.18 0.18 0.20; rsc = 90 60 60 90; LAI = 0.5 2.0 2.0 0.5;
  Z0 = 0.02 0.05 0.05 0.02; VCF = 0.4 0.8 0.8 0.4; RootDepth = 0.2 0.4 0.4 0.2;
  AltDep = 0.025 0.025 -0.025 -0.025;
}

[radiation_correction]
1       # flow control parameter
60      # time interval in minutes
2       # method: terrain shading and temperature correction
corr_temperature.asc            # exposure-corrected temperature
0       # its write code
1.0     # scale of the temperature correction in K
radiation_correction.asc        # factor of direct radiation on the slope
0       # its write code
shadow.asc                      # terrain shading of the last sub-step
0       # its write code
1       # compute in every step
4       # sub-steps per step

[region_transition_distance]
10000   # transition distance between regression regions in m

[substance_transport]
0       # number of tracers

[evapotranspiration]
1       # flow control parameter
60      # time interval in minutes
2       # method: 1 Penman-Monteith, 2 Hamon, 3 Wendling, 4 Haude
0.9 0.9 1.0 1.1 1.2 1.25 1.25 1.2 1.1 1.0 0.9 0.9   # Hamon coefficient per month
0.22 0.22 0.22 0.29 0.29 0.28 0.26 0.25 0.23 0.22 0.22 0.22   # Haude factor per month
1.0     # Wendling coast factor
etp.asc                 # potential transpiration (layer 0: cell total)
0       # its write code
etp.stat 2001           # its statistics: every zone and the total, mean of every step
etr.asc                 # real transpiration (layer 0: real evapotranspiration of the cell)
0       # its write code
etr.stat 2001
evap.asc                # potential soil evaporation
0
evap.stat 0
evar.asc                # real soil evaporation
0
evar.stat 2001
snowevap.asc            # snow evaporation
0
snowevap.stat 2001
eip.asc                 # potential interception evaporation
0
eip.stat 0
rgex.stat 0             # statistics of the corrected global radiation
0.23 0.77 0 0           # relative radiation from relative sunshine: c0 + c1 s + c2 s^2 + c3 s^3
0.072 -0.808 1.749 -0.239 # relative sunshine from relative radiation
0.75 0.05               # transmissivity A + B cos(day of the year)
1500                    # elevation scale of the day/night temperature amplitude in m
4 5 6 7 7 8 8 8 7 6 5 4 # monthly day/night temperature amplitude in K
0.6 0.1                 # share of the amplitude by day and its annual variation

[snow_model]
1       # flow control parameter
60      # time interval in minutes
1       # method: temperature index (degree-day factor of the month)
1.0     # transzone: half-width of the rain/snow transition in K
0.5     # T0R: rain/snow threshold temperature in deg C
0.0     # T0: melt threshold temperature in deg C
0.1     # CWH: liquid water the pack holds, relative to its snow
0.05    # CRFR: refreezing coefficient (methods 3 and 4)
2.0 2.0 2.5 3.0 3.5 4.0 4.5 4.5 4.0 3.0 2.5 2.0   # DDF in mm/(deg C day), January to December
1.5 1.5 1.8 2.0 2.2 2.4 2.6 2.6 2.4 2.0 1.8 1.5   # a of the temperature and wind index
0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2 0.2   # b of the temperature and wind index
0.01    # z0: roughness length in m
1.0     # RMFMIN: seasonal melt factor, minimum
3.0     # RMFMAX: seasonal melt factor, maximum
0.45    # ALBsnow_min: albedo of old snow
0.9     # ALBsnow_max: albedo of fresh snow
rain.asc                # rainfall grid
0                       # its write code (0: not written)
rain.stat 0             # rainfall statistics (0: none)
snowfall.asc            # snowfall grid
0
snowfall.stat 0
snowdays.asc            # snow-covered days grid
3       # written at the end of the run, under its name: a state a later run reads
snowdays.stat 0
snowage.asc             # snow age grid
3
snowage.stat 0
albedo.stat 0           # albedo statistics
snowoutflow.asc         # outflow from the snow cover
0
snowoutflow.stat 2001   # its statistics: mean per sub-basin and step
snowmelt.asc            # melt only
0
snowmelt.stat 0
snowsolid.asc           # snow water equivalent, solid
3
snowliquid.asc          # liquid water in the snow
3
snowstorage.stat 2001   # snow storage statistics: mean per sub-basin and step
snowtotal.asc           # total snow storage
3
1       # readgrids: 1 starts from the spin-up's snow state (make_state.py)

[interception_model]
1       # flow control parameter
60      # time interval in minutes
2       # method: one storage per layer below the snow, evaporating by the potential interception evaporation
throughfall.asc                 # throughfall grid (layer files get "_Layer_k")
0                               # its write code (0: not written)
throughfall.stat 2001           # throughfall statistics: mean per sub-basin and step
interception_evap.asc           # interception evaporation grid
0
interception_evap.stat 2001
interception_storage.asc        # interception storage grid
3                               # written at the end of the run (a later run can start from it)
interception_storage.stat 2001
0.3     # maximum water layer thickness per unit of leaf area in mm (rows without IntercepCap)
1       # readgrids: 1 starts from the spin-up's storages (make_state.py)

[infiltration_model]
1       # 1 runs the infiltration (needs the soil model)
60      # time interval in minutes (the same as the soil model's)
infex.asc               # infiltration excess grid
0       # its write code
infex.stat 2001         # statistics file of the infiltration excess
infsat.asc              # saturation marker grid
0       # its write code
0.3     # share of the infiltration excess that enters the soil through macropores

# The soil water balance; the grids it needs are variable grids above (constant values;
# the root depth comes from [landuse_table]), the soil type's conductivity (mm per step) and porosities come from [soil_table].
[soil_model]
1       # flow control parameter (1: routing may read the runoff)
60      # time interval in minutes
1       # method (2: with the slow baseflow storage)
sd.asc                  # saturation deficit grid
3       # its write code (3: at the end of the run, under its name: a state a later run reads)
suz.asc                 # unsaturated zone storage grid
3
sif.asc                 # interflow storage grid
3
sbia.asc                # inactive soil moisture grid
3
nfkia.asc               # inactive field capacity grid
3
ssp.asc                 # saturated soil partition grid
3
qd.asc                  # direct runoff grid
0
qi.asc                  # interflow grid
0
peakflow.asc            # largest direct runoff, written at the end of the run
QD.stat 2001            # statistics files: direct runoff,
QI.stat 2001            # interflow (with baseflow),
QB.stat 2001            # baseflow,
QBB.stat 0              # slow baseflow (method 2 only),
Qg.stat 2001            # total runoff,
SB.stat 2001            # soil storage,
SUZ.stat 2001           # unsaturated zone,
SIF.stat 2001           # interflow storage,
SD.stat 2001            # mean saturation deficit
1       5       # sub-basin codes: 1 holds for 1 to 4, 5 for itself
0.02    0.025   # m: recession parameter in m
1e-7    1e-7    # Tkorr: transmissivity scaling (baseflow)
1.0     1.0     # Kkorr: conductivity scaling (drainage)
2.0     2.0     # k_ELS_QD: direct runoff storage coefficient in h
20.0    20.0    # SHmax: interflow storage capacity in mm
24.0    24.0    # k_ELS_QI: interflow storage coefficient in h
500.0   500.0   # k_ELS_QBB: slow baseflow storage coefficient in h
0.01    0.01    # alpha: slow baseflow inflow per h
0.0     0.0     # QBBini: initial slow baseflow in mm per step
5.0     5.0     # SUZini: initial interflow storage in mm
0.5     0.5     # SDini: initial saturation deficit as a fraction of the usable field capacity
5.0     5.0     # Pgrenz: input above this (mm per step) bypasses the soil storage
0.5     0.5     # Rrueck: reinfiltrating fraction
0.1     0.1     # QDsnow: direct runoff share of the input under more than 10 mm of snow
1       # read the state grids and the storage file (1), only the storage file (2), neither (0)
soil_state.txt          # storage file

[routing_model]
1       # flow control parameter (1: route the soil model's runoff)
60      # time interval in minutes
1.0 2000.0 20 2          # qmin, qmax (l/s/km2), table intervals, sub-intervals per step
discharge.stat 2001      # discharge at every sub-basin outlet, every step
none                     # no observed discharge here
0                        # column descriptors of the observed discharge
0                        # steps before the model efficiency begins
TG 1 (AE=50, AF=1.0)     # routing descriptions, upstream first: 1 and 3 into 4, 2 and 4 into 5
TG 2 (AE=64, AF=1.0)     # AE: km2 upstream of the outlet (the sub-basin with its tributaries)
TG 3 (AE=113, AF=1.0)
TG 4 (AE=283, AF=1.0)
OL 1 (kh=3, kf=10, bm=4, bf=30, hm=1.0, kstm=25, kstf=15, I=0.030, L=9000, A=50)
OL 3 (kh=4, kf=12, bm=6, bf=40, hm=1.2, kstm=25, kstf=15, I=0.025, L=14000, A=113)
TG 5 (AE=370, AF=1.0)
OL 2 (kh=3, kf=10, bm=5, bf=30, hm=1.0, kstm=25, kstf=15, I=0.020, L=11000, A=64)
OL 4 (kh=5, kf=15, bm=8, bf=50, hm=1.5, kstm=30, kstf=15, I=0.010, L=7000, A=283)
SP 1 (file = reservoir_1.txt V0 = 1000000 A0 = 500000 W0 = 300 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)

# The reservoir at the outlet of sub-basin 5 (made up, see README.md): released outflow
# (m3/s) against stored volume (m3), one rule all year, linear in between: nothing when
# empty, 0.2 m3/s (about the basin's winter flow) at 500,000 m3, 2 m3/s at 2,000,000 m3.
[abstraction_rule_reservoir_1]
3 1
0 0
500000 0.2
2000000 2

[RegionalSuperposition]
0       # flow control parameter
60      # time interval in minutes

[special_output]
1       # flow control parameter
60      # time interval in minutes
numfiles = 1;
{
filename = points.txt; header = elevation_slope_coordinates;
entity { ID = [elevation_model]; Symbol = DEM; Xcoords = 477300 476300 458300; Ycoords = 4181500 4171500 4159500; }
entity { ID = slope_angle; Symbol = SLOPE; Xcoords = 477300 476300 458300; Ycoords = 4181500 4171500 4159500; }
entity { ID = CoordX; Symbol = X; Xcoords = 476300; Ycoords = 4171500; }
}

[data_assimilation]
1       # flow control parameter
60      # time interval in minutes
number of data-assimilation rules 1
# The snow water equivalent of snow_swe.asc (made by make_grids.py) replaces the snow cover
# on 15 January 1985, 12 h, split into 10 % liquid and 90 % solid water.
grid {
  grid-ID = snow_storage_total;
  listfilename = snow_assim.txt;
  options = {
    split-into-liquid-and-solid = true;
    default-liquid-percentage = 10;
  }
}

[ExternalCoupling]
0       # coupling mode (0: no coupling)

[soil_table]
1       # number of soil types
1 loam 25 35 3.6 300  1  0.45 0.05 2.0 1.4  3 0.2  1000 0.5
