[evapotranspiration]
1
1440
1
1 1 1 1 1 1 1 1 1 1 1 1
0.2 0.2 0.2 0.3 0.3 0.3 0.3 0.3 0.3 0.2 0.2 0.2
1.0
etp.asc
0
etp.stat 0
etr.asc
0
etr.stat 0
evap.asc
0
evap.stat 0
evar.asc
0
evar.stat 0
snowev.asc
0
snowev.stat 0
eip.asc
0
eip.stat 0
rgex.stat 0
0.2 0.8 0 0
0.072 -0.808 1.749 -0.239
0.7 0.1
1000
3 4 5 6 7 8 8 7 6 5 4 3
0.6 0.1
cloudiness 0
HamonCorrectionOpenWater = 1.2
[radiation_correction]
1
60
2
tkorr.asc
0
1.0
exkorr.asc
0
shape.asc
0
1
4
[lake_model]
1
1
0.08
0.001
[ArcVegIntegration]
0
