-- Daily order summary for the operations dashboard.
-- Reads yesterday's orders and reports revenue and order counts per sales channel and region.

DECLARE @report_date DATE = CAST(DATEADD(DAY, -1, GETDATE()) AS DATE);

SELECT
    o.order_date,
    ch.channel_name,
    r.region_name,
    COUNT(*)                              AS order_count,
    COUNT(DISTINCT o.customer_id)         AS distinct_customers,
    SUM(o.net_amount)                     AS net_revenue,
    SUM(ISNULL(o.discount_amount, 0))     AS total_discount,
    AVG(o.net_amount)                     AS avg_order_value,
    SUM(CASE WHEN o.is_first_order = 1 THEN 1 ELSE 0 END) AS first_orders
FROM sales.orders AS o
INNER JOIN ref.sales_channel AS ch
    ON ch.channel_id = o.channel_id
LEFT JOIN ref.region AS r
    ON r.region_code = o.ship_region_code
WHERE o.order_date = @report_date
  AND o.order_status NOT IN ('CANCELLED', 'TEST')
GROUP BY
    o.order_date,
    ch.channel_name,
    r.region_name
HAVING SUM(o.net_amount) > 0
ORDER BY
    net_revenue DESC,
    ch.channel_name;
